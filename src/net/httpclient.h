#pragma once

#include "net/proxysettings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <curl/curl.h>

#include <functional>
#include <memory>

class CurlMulti;
class QTimer;

// What one HTTP GET asks for, with its bounds.
struct FetchRequest
{
    static constexpr int DefaultTimeoutMs = 30000;
    static constexpr int DefaultConnectTimeoutMs = 10000;
    static constexpr qint64 DefaultSizeCap = qint64(8) << 20;
    static constexpr int DefaultMaxRedirects = 10;

    QByteArray url;
    QList<QByteArray> headers;        // "Name: value" lines sent with the request
    int timeoutMs = DefaultTimeoutMs; // the whole transfer, redirects included
    // A server that does not accept the connection within this time is given up, so a dead
    // server costs 10 s, not the whole transfer's deadline.
    int connectTimeoutMs = DefaultConnectTimeoutMs;
    qint64 sizeCap = DefaultSizeCap;        // body bytes after content decoding
    int maxRedirects = DefaultMaxRedirects; // 0: a 3xx answer is handed back, not followed
    // The address came from an untrusted answer: a connection to anything but a public
    // address (private, loopback, link-local, multicast, ...) is refused before it is made.
    // The address checked is the one the socket is opened for, after the name look-up. Through
    // a proxy the program looks up no name but the proxy's: a literal address in the URL is
    // checked, a name is left to the proxy (a socks5:// or socks4:// proxy is asked to look
    // it up itself).
    bool refuseNonPublic = false;
};

// How a GET ended. A transfer that completed carries its status and body whatever the status;
// one that did not carries the reason.
struct FetchResult
{
    enum class Error
    {
        None,
        BadAddress, // not an http or https address
        Timeout,
        TooLarge,
        Refused,  // connection refused, reset or closed without an answer, host not found
        Redirect, // too many redirects, or one to a scheme other than http and https
        Network,  // any other transfer failure (a body cut short, a bad certificate, ...)
    };

    Error error = Error::None;
    QString errorText; // libcurl's words for the failure
    long status = 0;   // the HTTP status of the last response
    QByteArray body;
    QByteArray contentType;
    QByteArray retryAfter; // the Retry-After header as sent, when there was one
    QByteArray finalUrl;   // after redirects
    QByteArray location;   // where a 3xx answer that was not followed points (absolute)
    // The connection was refused by the private-address rule: no server was asked.
    bool refusedNonPublic = false;

    bool ok() const { return error == Error::None; }
};

// HTTP and HTTPS GETs on the event loop, with libcurl. One client serves one lookup run: its
// transfers share the run's cookies and open connections. Each transfer has a handle of its
// own: libcurl sends a request that fails on a reused connection before any byte of the answer
// once more on a fresh connection, and counts those retries per handle, so with one handle for
// a whole run every sixth reconnect failed its lookup. The result always arrives later, from
// the event loop.
class HttpClient : public QObject
{
    Q_OBJECT

public:
    using Id = quint64;
    using Done = std::function<void(const FetchResult &)>;

    explicit HttpClient(QObject *parent = nullptr);
    ~HttpClient() override;

    // Connections to HOST:PORT go to CONNECT-HOST:CONNECT-PORT instead (libcurl's
    // CURLOPT_CONNECT_TO entries).
    void setConnectTo(const QList<QByteArray> &entries) { m_connectTo = entries; }
    // At most this many idle connections stay open for reuse, so a run's connections fit the
    // files the process may open.
    void setMaxCachedConnections(long count);
    // The User-Agent header of every request.
    void setUserAgent(const QByteArray &agent) { m_userAgent = agent; }
    // The proxies transfers go through; the environment's (as read at construction) until set.
    void setProxy(const ProxySettings &proxy) { m_proxy = proxy; }

    Id get(const FetchRequest &request, Done done);
    // Cancels a transfer under way; its `done` is never called.
    void abort(Id id);
    void abortAll();
    int activeTransfers() const { return int(m_transfers.size()); }

    // The request URL of an address: the text as it is, with only what an HTTP request line
    // cannot carry percent-encoded (white space, control characters, '#', non-ASCII, a '%'
    // that starts no escape).
    static QByteArray requestUrl(const QString &address);

private:
    struct Transfer;

    static size_t onBody(char *data, size_t size, size_t count, void *transfer);
    static size_t onHeader(char *data, size_t size, size_t count, void *transfer);
    static curl_socket_t onOpenSocket(void *transfer, curlsocktype purpose, curl_sockaddr *address);
    static int onConnected(void *transfer, char *peer, char *local, int peerPort, int localPort);
    bool ensureCurl();
    bool start(Transfer &transfer);
    void onTransferDone(CURL *easy, CURLcode result);
    void finish(Id id, FetchResult result);
    void release(Transfer &transfer);

    CurlMulti *m_multi = nullptr; // with the share, made on the first transfer
    CURLSH *m_share = nullptr;
    long m_maxCachedConnections = 0; // 0: libcurl's default
    QList<QByteArray> m_connectTo;
    QByteArray m_userAgent;
    ProxySettings m_proxy;
    QHash<Id, std::shared_ptr<Transfer>> m_transfers;
    QHash<CURL *, Id> m_byHandle;
    Id m_nextId = 1;
};
