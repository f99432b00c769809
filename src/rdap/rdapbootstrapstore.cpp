#include "rdap/rdapbootstrapstore.h"

#include "net/connectto.h"
#include "net/httpclient.h"
#include "net/proxysettings.h"
#include "rdap/httprdapfetch.h"
#include "rdap/rdapfetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

namespace {

const char *const FolderVariable = "QUORVANE_RDAP_BOOTSTRAP";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

RdapBootstrapStore::RdapBootstrapStore(const QString &cacheFolder, const QUrl &folderUrl,
                                       RdapFetch *fetch, QObject *parent)
    : QObject(parent), m_cacheFolder(cacheFolder), m_folderUrl(folderUrl), m_fetch(fetch)
{
    // A folder URL names files relative to itself only when it ends in '/'.
    if (!m_folderUrl.path().endsWith(u'/'))
        m_folderUrl.setPath(m_folderUrl.path() + u'/');
    m_waitLimit.setSingleShot(true);
    connect(&m_waitLimit, &QTimer::timeout, this, [this] {
        m_waitExpired = true;
        QStringList waited;
        for (const RdapRegistry registry : AllRdapRegistries) {
            if (m_origins[size_t(registry)] == Origin::Snapshot)
                waited << RdapBootstrap::fileName(registry);
        }
        sayOnce(m_saidSnapshot,
                QStringLiteral("the RDAP bootstrap (%1 from %2) did not arrive within %3 s; the "
                               "built-in copy is used until it does")
                    .arg(waited.join(QStringLiteral(", ")), m_folderUrl.toDisplayString())
                    .arg(m_waitLimitMs / 1000.0));
        releaseWaiters();
    });
}

RdapBootstrapStore *RdapBootstrapStore::withOwnClient(const ConnectToMap &connectTo,
                                                      const ProxySettings &proxy, QObject *parent,
                                                      int timeoutMs)
{
    auto *store =
        new RdapBootstrapStore(defaultCacheFolder(), folderUrlFromEnvironment(), nullptr, parent);
    auto *http = new HttpClient(store);
    http->setConnectTo(connectTo.curlEntries());
    http->setProxy(proxy);
    auto *fetch = new HttpRdapFetch(http, true, connectTo, store);
    fetch->setTimeoutMs(timeoutMs);
    store->m_fetch = fetch;
    store->setWaitLimitMs(timeoutMs);
    return store;
}

QString RdapBootstrapStore::defaultCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Quorvane/rdap");
}

QUrl RdapBootstrapStore::folderUrlFromEnvironment()
{
    const QString overridden = qEnvironmentVariable(FolderVariable);
    return QUrl(overridden.isEmpty() ? QStringLiteral("https://data.iana.org/rdap/") : overridden);
}

QByteArray RdapBootstrapStore::snapshot(RdapRegistry registry)
{
    return readFile(QStringLiteral(":/rdap/snapshot/") + RdapBootstrap::fileName(registry));
}

void RdapBootstrapStore::start(const QDateTime &now)
{
    ++m_generation;
    m_pending = 0;
    m_started = true;
    m_startedAt = now;
    m_waitExpired = false;
    m_unreadableCache.clear();
    m_fetchFailures.clear();
    QList<RdapRegistry> stale;
    for (const RdapRegistry registry : AllRdapRegistries) {
        const size_t i = size_t(registry);
        m_failures[i].clear();
        if (m_origins[i] == Origin::None && m_bootstrap.load(registry, snapshot(registry)))
            m_origins[i] = Origin::Snapshot;

        // A readable cached copy, stale or not, came from the publication folder: it beats the
        // built-in snapshot, which is only a stand-in.
        const QString name = RdapBootstrap::fileName(registry);
        const QFileInfo cached(m_cacheFolder + u'/' + name);
        QString reason;
        bool cacheReadable = false;
        if (cached.exists()) {
            QFile file(cached.filePath());
            if (!file.open(QIODevice::ReadOnly))
                reason = file.errorString();
            else
                cacheReadable = m_bootstrap.load(registry, file.readAll(), &reason);
            if (!cacheReadable)
                m_unreadableCache << name + QStringLiteral(" (") + reason + u')';
        }
        if (cacheReadable)
            m_origins[i] = Origin::Cache;
        if (!cacheReadable || cached.lastModified().secsTo(now) > MaxAgeSeconds)
            stale << registry;
    }
    if (!m_unreadableCache.isEmpty())
        sayOnce(m_saidCacheUnreadable,
                QStringLiteral("the cached RDAP bootstrap in %1 does not read: %2; fetched again")
                    .arg(QDir::toNativeSeparators(m_cacheFolder),
                         m_unreadableCache.join(QStringLiteral(", "))));

    m_pending = int(stale.size()) + 1; // the extra one ends below, after the fetches started
    if (!isUsable())
        m_waitLimit.start(m_waitLimitMs);
    for (const RdapRegistry registry : stale)
        refresh(registry);
    QTimer::singleShot(0, this, [this, generation = m_generation] {
        if (generation == m_generation)
            finishOne();
    });
}

void RdapBootstrapStore::refreshIfStale(const QDateTime &now)
{
    if (!m_started || (!isRefreshing() && m_startedAt.secsTo(now) > MaxAgeSeconds))
        start(now);
}

bool RdapBootstrapStore::isUsable() const
{
    if (!m_started || m_waitExpired || m_pending == 0)
        return true;
    for (const Origin origin : m_origins) {
        if (origin != Origin::Cache && origin != Origin::Network)
            return false;
    }
    return true;
}

void RdapBootstrapStore::whenUsable(QObject *context, std::function<void()> go)
{
    if (!isUsable()) {
        m_waiters.append(Waiter{context, std::move(go)});
        return;
    }
    QMetaObject::invokeMethod(context, std::move(go), Qt::QueuedConnection);
}

void RdapBootstrapStore::releaseWaiters()
{
    if (!isUsable())
        return;
    m_waitLimit.stop();
    const QList<Waiter> waiters = std::exchange(m_waiters, {});
    for (const Waiter &waiter : waiters) {
        if (waiter.context)
            QMetaObject::invokeMethod(waiter.context, waiter.go, Qt::QueuedConnection);
    }
}

void RdapBootstrapStore::sayOnce(bool &said, const QString &text)
{
    if (said)
        return;
    said = true;
    emit notice(text);
}

void RdapBootstrapStore::refresh(RdapRegistry registry)
{
    const QUrl url = m_folderUrl.resolved(QUrl(RdapBootstrap::fileName(registry)));
    QPointer<RdapBootstrapStore> self(this);
    m_fetch->fetch(url, [self, registry, generation = m_generation](const RdapFetchResult &result) {
        if (self && generation == self->m_generation)
            self->fetched(registry, result.ok, result.body, result.failure);
    });
}

void RdapBootstrapStore::fetched(RdapRegistry registry, bool ok, const QByteArray &body,
                                 const QString &failure)
{
    const size_t i = size_t(registry);
    const QString name = RdapBootstrap::fileName(registry);
    QString reason;
    if (!ok) {
        m_failures[i] = name + QStringLiteral(": ") + failure;
    } else if (!m_bootstrap.load(registry, body, &reason)) {
        m_failures[i] = name + QStringLiteral(": ") + reason;
    } else {
        m_origins[i] = Origin::Network;
        QSaveFile file(m_cacheFolder + u'/' + name);
        const bool folder = QDir().mkpath(m_cacheFolder);
        if (!folder || !file.open(QIODevice::WriteOnly) || file.write(body) != body.size() ||
            !file.commit()) {
            const QString why =
                folder ? file.errorString() : QStringLiteral("the folder cannot be made");
            m_failures[i] = name + QStringLiteral(": not cached: ") + why;
            sayOnce(m_saidCacheUnwritable,
                    QStringLiteral("the RDAP bootstrap cannot be kept in %1 (%2); the fetched "
                                   "copy is used from memory")
                        .arg(QDir::toNativeSeparators(m_cacheFolder), why));
        }
    }
    if (m_origins[i] == Origin::Snapshot)
        m_fetchFailures.append({name, ok ? reason : failure});
    finishOne();
}

void RdapBootstrapStore::finishOne()
{
    if (m_pending > 0 && --m_pending == 0) {
        if (!m_fetchFailures.isEmpty()) {
            // The files that failed alike, named together: "dns.json, asn.json: why".
            QList<std::pair<QStringList, QString>> alike;
            for (const auto &failure : std::as_const(m_fetchFailures)) {
                const auto &[name, why] = failure;
                // clang 14 cannot capture a structured binding: the lambda reads the pair.
                auto same = std::find_if(alike.begin(), alike.end(), [&](const auto &group) {
                    return group.second == failure.second;
                });
                if (same == alike.end())
                    alike.append({{name}, why});
                else
                    same->first << name;
            }
            QStringList reasons;
            for (const auto &[names, why] : std::as_const(alike))
                reasons << names.join(QStringLiteral(", ")) + QStringLiteral(": ") + why;
            sayOnce(m_saidSnapshot,
                    QStringLiteral("the RDAP bootstrap could not be fetched from %1 (%2); the "
                                   "built-in copy is used")
                        .arg(m_folderUrl.toDisplayString(), reasons.join(QStringLiteral("; "))));
        }
        releaseWaiters();
        emit refreshed();
    } else {
        releaseWaiters();
    }
}
