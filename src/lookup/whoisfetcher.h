#pragma once

#include "lookup/pagetext.h"
#include "lookup/sites.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <curl/curl.h>

class CurlMulti;

// Loads the result pages of one lookup run and hands back the text of each page's record
// element. One transfer handle serves the whole run (the run's document factory): cookies and
// open connections are kept from page to page. HTTP is libcurl's, which reports a body cut
// short in any framing (declared length, chunks) as the failure it is. One fetch at a time;
// the result always arrives later through `finished`, never from inside FetchWhoisRecord.
class WhoisFetcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTransferTimeoutMs = 30000;
    static constexpr qint64 DefaultSizeCap = qint64(8) << 20;
    static constexpr int MaxRedirects = 10;

    explicit WhoisFetcher(QObject *parent = nullptr);
    ~WhoisFetcher() override;

    // The whole fetch (redirects included) must be complete within this time.
    void setTransferTimeout(int ms);
    int transferTimeout() const { return m_transferTimeoutMs; }
    // A page body (after content decoding) larger than this fails the fetch.
    void setSizeCap(qint64 bytes);
    qint64 sizeCap() const { return m_sizeCap; }
    // Bounds on parsing a page; a page beyond them fails the fetch.
    void setParseLimits(const ParseLimits &limits) { m_parseLimits = limits; }

    // Starts loading the site's page for the address; a fetch under way is abandoned first.
    void FetchWhoisRecord(Site site, const QString &address);
    // Cancels the fetch under way; no `finished` follows for it.
    void abort();
    bool isFetching() const { return m_fetching; }

    // The request URL of a page address: the text as it is, with only what an HTTP request
    // line cannot carry percent-encoded (white space, control characters, '#', non-ASCII, a
    // '%' that starts no escape).
    static QByteArray requestUrl(const QString &pageAddress);
    static QByteArray userAgent();

signals:
    // ok false: the page could not be loaded (network failure, timeout, size cap, refused
    // redirect, unparseable page). ok true with an empty record: the page has no record
    // element.
    void finished(bool ok, const QString &record);

private:
    static size_t onBody(char *data, size_t size, size_t count, void *self);
    void onTransferDone(CURL *easy, CURLcode result);
    void stopTransfer();
    void complete(bool ok, const QString &record);

    CurlMulti *m_multi;
    CURL *m_easy;
    curl_slist *m_headers = nullptr;
    QTimer m_deadline;
    QByteArray m_body;
    Site m_site = Site::Option1;
    int m_transferTimeoutMs = DefaultTransferTimeoutMs;
    qint64 m_sizeCap = DefaultSizeCap;
    ParseLimits m_parseLimits;
    quint64 m_generation = 0;
    bool m_transferring = false;
    bool m_fetching = false;
};
