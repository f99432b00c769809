#pragma once

#include "lookup/lookupresult.h"
#include "net/httpclient.h"
#include "web/pagetext.h"
#include "web/sites.h"

#include <QObject>
#include <QPointer>
#include <QString>

template <class T> class QFutureWatcher;

// The bounds on one site lookup.
struct FetchLimits
{
    int timeoutMs = FetchRequest::DefaultTimeoutMs;
    qint64 sizeCap = FetchRequest::DefaultSizeCap;
    ParseLimits parse;
};

// Looks addresses up on the three whois web sites: loads the site's result page and hands back
// the text of its record element, cut into fields. One fetcher serves one lookup run: its
// HTTP client keeps the run's cookies and open connections from page to page. Decoding,
// parsing and rendering a page run on a worker thread, so a hostile page never holds the
// caller's thread. One fetch at a time; the result always arrives later through `finished`.
class SiteFetcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTransferTimeoutMs = FetchRequest::DefaultTimeoutMs;
    static constexpr qint64 DefaultSizeCap = FetchRequest::DefaultSizeCap;
    static constexpr int MaxRedirects = FetchRequest::DefaultMaxRedirects;

    explicit SiteFetcher(QObject *parent = nullptr);
    SiteFetcher(SiteTable sites, FetchLimits limits, QObject *parent = nullptr);
    ~SiteFetcher() override;

    // The whole fetch (redirects included) must be complete within this time.
    void setTransferTimeout(int ms) { m_limits.timeoutMs = qMax(1, ms); }
    int transferTimeout() const { return m_limits.timeoutMs; }
    // A page body (after content decoding) larger than this fails the fetch.
    void setSizeCap(qint64 bytes) { m_limits.sizeCap = qMax<qint64>(0, bytes); }
    qint64 sizeCap() const { return m_limits.sizeCap; }
    // Bounds on parsing a page; a page beyond them fails the fetch.
    void setParseLimits(const ParseLimits &limits) { m_limits.parse = limits; }

    // Connections to HOST:PORT go to CONNECT-HOST:CONNECT-PORT instead (libcurl's form).
    void setConnectTo(const QList<QByteArray> &entries) { m_http->setConnectTo(entries); }
    // The proxies pages are loaded through (the environment's until set).
    void setProxy(const ProxySettings &proxy) { m_http->setProxy(proxy); }

    // Starts loading the site's page for the address; a fetch under way is abandoned first.
    void FetchWhoisRecord(Site site, const QString &address);
    // Cancels the fetch under way (a parse under way is abandoned and its result dropped); no
    // `finished` follows for it.
    void abort();
    bool isFetching() const { return m_fetching; }

    static QByteArray userAgent();

signals:
    // The lookup's result: a record (possibly of no fields) or the reason it failed.
    void finished(const LookupResult &result);

private:
    void pageLoaded(quint64 generation, const FetchResult &page);
    void complete(LookupResult result);

    SiteTable m_sites;
    FetchLimits m_limits;
    HttpClient *m_http;
    HttpClient::Id m_transfer = 0;
    QPointer<QFutureWatcher<LookupResult>> m_parse;
    LookupResult m_pending; // address, source and server of the fetch under way
    quint64 m_generation = 0;
    bool m_fetching = false;
};
