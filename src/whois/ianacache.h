#pragma once

#include "lookup/query.h"
#include "net/whois43client.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// IANA's answers, kept for the run in memory and on disk for a day, so that 10,000 names under
// one top-level domain cost one IANA query. An answer is kept for what IANA answered about:
// the TLD for names, the address block named in the answer for addresses and networks
// (IPv4 blocks are whole /8s), the AS block for AS numbers. Questions that arrive while the
// query for their key is under way wait for that query instead of sending their own.
class IanaCache : public QObject
{
    Q_OBJECT

public:
    struct Entry
    {
        QString text;
        // The IANA server was reached on a non-public address it was named by (a local mirror),
        // not through the connect-to map.
        bool serverNonPublic = false;
    };
    // Sends the IANA query and calls back once with the answer.
    using Fetch = std::function<void(const std::function<void(const Whois43Answer &)> &)>;
    // ok false: IANA could not be asked; reason says why.
    using Done = std::function<void(bool ok, const Entry &entry, const QString &reason)>;

    static constexpr qint64 DefaultMaxAgeSeconds = 24 * 60 * 60;

    // $XDG_CACHE_HOME/Quorvane
    static QString defaultDirectory();

    explicit IanaCache(const QString &directory = defaultDirectory(),
                       qint64 maxAgeSeconds = DefaultMaxAgeSeconds, QObject *parent = nullptr);

    // Calls `done` later (never from inside get) with IANA's answer for the query, asking
    // through `fetch` only when neither the cache nor a query under way has it.
    void get(const Query &query, const Fetch &fetch, Done done);

    QString filePath() const;

private:
    struct Stored
    {
        QString type; // "tld", "v4", "v6", "as"
        QByteArray first;
        QByteArray last; // the key's range; for "tld", first is the TLD and last is empty
        qint64 fetched = 0;
        Entry entry;
    };
    struct Waiter
    {
        Query query;
        Fetch fetch;
        Done done;
    };

    const Stored *find(const Query &query) const;
    void finishFetch(const QString &flightKey, const Query &query, const Whois43Answer &answer);
    void load();
    void save() const;

    QString m_directory;
    qint64 m_maxAge;
    bool m_loaded = false;
    QList<Stored> m_entries;
    QHash<QString, QList<Waiter>> m_inFlight;
};
