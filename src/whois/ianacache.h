#pragma once

#include "lookup/query.h"
#include "whois/whoisreferral.h"
#include "whois/whoisreply.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// IANA's answers, kept for the run in memory and on disk for a day, so that 10,000 names under
// one top-level domain cost one IANA query. An answer is kept for what IANA answered about:
// the TLD for names, the address block named in the answer for addresses and networks
// (IPv4 blocks are whole /8s), the AS block for AS numbers. Questions that arrive while the
// query for their key is under way wait for that query instead of sending their own.
//
// On disk the answers are JSON lines, one per answer, appended in batches (the answers that
// came in one turn of the event loop, or by the time the cache is destroyed), so keeping n
// answers costs time linear in n. The file is compacted (rewritten whole, once) when it is
// loaded with more stale, repeated or broken lines than live ones. It is only a cache: a crash
// loses at most the last batch, and a line cut short is skipped when read.
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
        // The referral in the text, read once for every lookup the entry answers.
        mutable std::shared_ptr<const WhoisReferral> referral;
    };
    // Sends the IANA query and calls back once with the reply.
    using Fetch = std::function<void(const std::function<void(const WhoisReply &)> &)>;
    // IANA's answer, or why IANA could not be asked.
    using Done = std::function<void(const Result<Entry, LookupError> &entry)>;

    static constexpr qint64 DefaultMaxAgeSeconds = 24 * 60 * 60;

    // $XDG_CACHE_HOME/Quorvane
    static QString defaultDirectory();

    explicit IanaCache(const QString &directory = defaultDirectory(),
                       qint64 maxAgeSeconds = DefaultMaxAgeSeconds, QObject *parent = nullptr);
    // Writes what is not written yet.
    ~IanaCache() override;

    // Calls `done` later (never from inside get) with IANA's answer for the query, asking
    // through `fetch` only when neither the cache nor a query under way has it.
    void get(const Query &query, const Fetch &fetch, Done done);

    QString filePath() const;
    // Writes the answers not on disk yet (done by itself once the event loop turns).
    void flush();

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
    void finishFetch(const QString &flightKey, const Query &query, const WhoisReply &reply);
    void keep(const Stored &stored);
    // Reads the entry's referral when it has not been read yet.
    static void withReferral(const Entry &entry);
    static QByteArray lineOf(const Stored &stored);
    void load();
    bool rewrite();

    QString m_directory;
    qint64 m_maxAge;
    bool m_loaded = false;
    // Names by TLD, a hash lookup each; address and AS blocks, a few hundred at most, in a list.
    QHash<QByteArray, Stored> m_tlds;
    QList<Stored> m_blocks;
    QHash<QString, QList<Waiter>> m_inFlight;
    // Answers not written yet, as their lines.
    QByteArray m_unwritten;
    // The file holds more dead lines than live ones (or none that read): rewrite it whole.
    bool m_compact = false;
    bool m_flushQueued = false;
};
