#include "rdap/rdapbootstrapstore.h"

#include "rdap/rdapfetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

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
    QList<RdapRegistry> stale;
    for (const RdapRegistry registry : AllRdapRegistries) {
        const size_t i = size_t(registry);
        m_failures[i].clear();
        if (m_origins[i] == Origin::None && m_bootstrap.load(registry, snapshot(registry)))
            m_origins[i] = Origin::Snapshot;

        // A readable cached copy, stale or not, came from the publication folder: it beats the
        // built-in snapshot, which is only a stand-in.
        const QFileInfo cached(m_cacheFolder + u'/' + RdapBootstrap::fileName(registry));
        const bool cacheReadable =
            cached.exists() && m_bootstrap.load(registry, readFile(cached.filePath()));
        if (cacheReadable)
            m_origins[i] = Origin::Cache;
        if (!cacheReadable || cached.lastModified().secsTo(now) > MaxAgeSeconds)
            stale << registry;
    }

    m_pending = int(stale.size()) + 1; // the extra one ends below, after the fetches started
    for (const RdapRegistry registry : stale)
        refresh(registry);
    QTimer::singleShot(0, this, [this, generation = m_generation] {
        if (generation == m_generation)
            finishOne();
    });
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
        if (!QDir().mkpath(m_cacheFolder) || !file.open(QIODevice::WriteOnly) ||
            file.write(body) != body.size() || !file.commit())
            m_failures[i] = name + QStringLiteral(": not cached: ") + file.errorString();
    }
    finishOne();
}

void RdapBootstrapStore::finishOne()
{
    if (m_pending > 0 && --m_pending == 0)
        emit refreshed();
}
