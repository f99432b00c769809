#pragma once

#include "rdap/rdapbootstrap.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <array>
#include <functional>

class ConnectToMap;
class ProxySettings;
class RdapFetch;

// Keeps the four bootstrap files at hand: the copies in the cache folder, refreshed from the
// publication folder when older than a day, and the snapshot built into the program for when
// neither the cache nor the network has a usable file. A fetched file replaces the cached copy
// only when it reads as a bootstrap file; a failure leaves what was loaded in place.
//
// While a file has no usable copy (none cached, or the cached one does not read) and its fetch
// is under way, the bootstrap is not usable yet: lookups wait for it (whenUsable), at most
// waitLimitMs. The snapshot stands in only when the fetch failed, and that is said once
// (notice); so is a cache that cannot be read or written, the fetched copy then serving from
// memory.
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
    // The longest lookups wait for the files: the fetch's own deadline.
    static constexpr int DefaultWaitLimitMs = 30000;

    // `folderUrl` is where the four files are published; `fetch` loads them and must outlive
    // the store.
    RdapBootstrapStore(const QString &cacheFolder, const QUrl &folderUrl, RdapFetch *fetch,
                       QObject *parent = nullptr);
    // The store of the default cache folder and publication folder, fetching with an HTTP
    // client of its own: for a program that keeps one store across runs. `timeoutMs` bounds
    // each fetch and the lookups' wait alike.
    static RdapBootstrapStore *withOwnClient(const ConnectToMap &connectTo,
                                             const ProxySettings &proxy, QObject *parent,
                                             int timeoutMs = DefaultWaitLimitMs);

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
    // Starts when never started, or when the last start is a day old and no refresh is under
    // way: a store kept for the program's life stays fresh without cutting a refresh short.
    void refreshIfStale(const QDateTime &now = QDateTime::currentDateTimeUtc());
    bool isRefreshing() const { return m_pending > 0; }

    // Whether lookups may use the bootstrap now: every file has a copy from the cache or the
    // network, or its fetch has ended, or the wait limit has passed.
    bool isUsable() const;
    // Calls `go` later, from the event loop, once the bootstrap is usable (unless `context`
    // is gone by then).
    void whenUsable(QObject *context, std::function<void()> go);
    void setWaitLimitMs(int ms) { m_waitLimitMs = ms; }

    const RdapBootstrap &bootstrap() const { return m_bootstrap; }
    Origin origin(RdapRegistry registry) const { return m_origins[size_t(registry)]; }
    // Why the last refresh of a file failed (fetch, unreadable file, cache not writable), or
    // empty.
    QString failure(RdapRegistry registry) const { return m_failures[size_t(registry)]; }

signals:
    void refreshed();
    // Something the user should hear of once: the snapshot standing in for files that could
    // not be fetched, or a cache that cannot be read or written.
    void notice(const QString &text);

private:
    void refresh(RdapRegistry registry);
    void fetched(RdapRegistry registry, bool ok, const QByteArray &body, const QString &failure);
    void finishOne();
    void releaseWaiters();
    void sayOnce(bool &said, const QString &text);

    struct Waiter
    {
        QPointer<QObject> context;
        std::function<void()> go;
    };

    QString m_cacheFolder;
    QUrl m_folderUrl;
    RdapFetch *m_fetch;
    RdapBootstrap m_bootstrap;
    std::array<Origin, 4> m_origins{};
    std::array<QString, 4> m_failures;
    int m_pending = 0;
    quint64 m_generation = 0;
    bool m_started = false;
    QDateTime m_startedAt;
    bool m_waitExpired = false;
    int m_waitLimitMs = DefaultWaitLimitMs;
    QTimer m_waitLimit;
    QList<Waiter> m_waiters;
    // Per file, for the notices: its cached copy did not read; its fetch failed.
    QStringList m_unreadableCache;
    QList<std::pair<QString, QString>> m_fetchFailures; // file name, why

    bool m_saidSnapshot = false;
    bool m_saidCacheUnreadable = false;
    bool m_saidCacheUnwritable = false;
};
