#pragma once

#include "rdap/rdapbootstrap.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <array>

class RdapFetch;

// Keeps the four bootstrap files at hand: the copies in the cache folder, refreshed from the
// publication folder when older than a day, and the snapshot built into the program for when
// neither the cache nor the network has a usable file. A fetched file replaces the cached copy
// only when it reads as a bootstrap file; a failure leaves what was loaded in place.
class RdapBootstrapStore : public QObject
{
    Q_OBJECT

public:
    enum class Origin
    {
        None,
        Snapshot,
        Cache,
        Network
    };
    static constexpr qint64 MaxAgeSeconds = 24 * 60 * 60;

    // `folderUrl` is where the four files are published; `fetch` loads them and must outlive
    // the store.
    RdapBootstrapStore(const QString &cacheFolder, const QUrl &folderUrl, RdapFetch *fetch,
                       QObject *parent = nullptr);

    // $XDG_CACHE_HOME/Quorvane/rdap
    static QString defaultCacheFolder();
    // QUORVANE_RDAP_BOOTSTRAP when set, else IANA's folder. The program reads it once at
    // start-up and hands it to the store.
    static QUrl folderUrlFromEnvironment();
    // The built-in copy of one file (a Qt resource).
    static QByteArray snapshot(RdapRegistry registry);

    // Loads the cached copy of each file (the built-in one when there is none), then fetches the
    // files whose cached copy is missing, unreadable or older than MaxAgeSeconds at `now`.
    // `refreshed` follows once every fetch has ended (at once, later, when none was needed).
    void start(const QDateTime &now = QDateTime::currentDateTimeUtc());
    bool isRefreshing() const { return m_pending > 0; }

    const RdapBootstrap &bootstrap() const { return m_bootstrap; }
    Origin origin(RdapRegistry registry) const { return m_origins[size_t(registry)]; }
    // Why the last refresh of a file failed (fetch, unreadable file, cache not writable), or
    // empty.
    QString failure(RdapRegistry registry) const { return m_failures[size_t(registry)]; }

signals:
    void refreshed();

private:
    void refresh(RdapRegistry registry);
    void fetched(RdapRegistry registry, bool ok, const QByteArray &body, const QString &failure);
    void finishOne();

    QString m_cacheFolder;
    QUrl m_folderUrl;
    RdapFetch *m_fetch;
    RdapBootstrap m_bootstrap;
    std::array<Origin, 4> m_origins{};
    std::array<QString, 4> m_failures;
    int m_pending = 0;
    quint64 m_generation = 0;
};
