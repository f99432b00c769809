#include "net/httpclient.h"

#include "net/addressrules.h"
#include "net/curlloader.h"
#include "net/curlmulti.h"
#include "platform/logging.h"

#include <QTimer>
#include <QUrl>

#include <utility>

#include <sys/socket.h>

namespace {

bool isWebAddress(const QByteArray &url)
{
    const QByteArray lower = url.left(8).toLower();
    return lower.startsWith("http://") || lower.startsWith("https://");
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

FetchResult::Error errorOf(CURLcode result, bool overCap)
{
    if (overCap)
        return FetchResult::Error::TooLarge;
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        return FetchResult::Error::Timeout;
    case CURLE_FILESIZE_EXCEEDED:
        return FetchResult::Error::TooLarge;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_GOT_NOTHING:
        return FetchResult::Error::Refused;
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return FetchResult::Error::Redirect;
    default:
        return FetchResult::Error::Network;
    }
}

} // namespace

struct HttpClient::Transfer
{
    HttpClient::Id id = 0;
    CURL *easy = nullptr;
    curl_slist *headers = nullptr;
    curl_slist *connectTo = nullptr;
    FetchRequest request;
    HttpClient::Done done;
    QByteArray body;
    QByteArray retryAfter;
    bool overCap = false;
    QString refusedPeer; // the non-public address a refused connection went to
    bool viaProxy = false;
    QByteArray proxyUrl; // empty: no proxy
    bool inMulti = false;
    QTimer deadline;
    char error[CURL_ERROR_SIZE] = {};
};

HttpClient::HttpClient(QObject *parent) : QObject(parent), m_proxy(ProxySettings::fromEnvironment())
{
}

bool HttpClient::ensureCurl()
{
    // Made on the first transfer, so a run that makes none never loads libcurl.
    if (m_multi)
        return true;
    if (!curlLoaded())
        return false;
    m_share = curl_share_init();
    Q_CHECK_PTR(m_share);
    // The run's cookies, name look-ups and TLS sessions are shared by its transfers; open
    // connections are kept by the multi handle they all run in.
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_multi = new CurlMulti(this);
    if (m_maxCachedConnections > 0)
        m_multi->setMaxCachedConnections(m_maxCachedConnections);
    connect(m_multi, &CurlMulti::done, this, &HttpClient::onTransferDone);
    return true;
}

void HttpClient::setMaxCachedConnections(long count)
{
    m_maxCachedConnections = count;
    if (m_multi)
        m_multi->setMaxCachedConnections(count);
}

HttpClient::~HttpClient()
{
    abortAll();
    delete m_multi; // its cached connections go before the share they used
    m_multi = nullptr;
    if (m_share)
        curl_share_cleanup(m_share);
}

QByteArray HttpClient::requestUrl(const QString &address)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = address.toUtf8();
    QByteArray encoded;
    encoded.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool escape =
            c == '%' && i + 2 < utf8.size() && isHexDigit(utf8[i + 1]) && isHexDigit(utf8[i + 2]);
        if (c > 0x20 && c < 0x7F && c != '#' && (c != '%' || escape)) {
            encoded.append(char(c));
        } else {
            encoded.append('%');
            encoded.append(hex[c >> 4]);
            encoded.append(hex[c & 0xF]);
        }
    }
    return encoded;
}

HttpClient::Id HttpClient::get(const FetchRequest &request, Done done)
{
    auto transfer = std::make_shared<Transfer>();
    const Id id = m_nextId++;
    transfer->id = id;
    transfer->request = request;
    transfer->done = std::move(done);
    m_transfers.insert(id, transfer);

    const QUrl url = QUrl::fromEncoded(request.url);
    const std::optional<ProxySettings::Proxy> proxy =
        m_proxy.proxyFor(url.scheme().toLower(), url.host());
    transfer->viaProxy = proxy.has_value();
    // Through a proxy no socket is opened for the server itself: an address written in the URL
    // is the one check left.
    const IpAddress literal = IpAddress::fromString(url.host());
    if (request.refuseNonPublic && proxy && !literal.isNull() &&
        AddressRules::isNonPublic(literal)) {
        QTimer::singleShot(0, this, [this, id, literal] {
            FetchResult failed;
            failed.error = FetchResult::Error::Refused;
            failed.refusedNonPublic = true;
            failed.errorText = QStringLiteral("refused: ") + literal.toString() +
                               QStringLiteral(" is a ") + AddressRules::nonPublicKind(literal) +
                               QStringLiteral(" address");
            finish(id, std::move(failed));
        });
        return id;
    }
    if (proxy)
        transfer->proxyUrl = request.refuseNonPublic ? proxy->urlResolvingNames() : proxy->url;

    const bool webAddress = isWebAddress(request.url);
    if (!webAddress || !start(*transfer)) {
        FetchResult failed;
        failed.error = FetchResult::Error::BadAddress;
        failed.errorText = QStringLiteral("not an http or https address");
        if (webAddress && !curlLoaded()) {
            failed.error = FetchResult::Error::Network;
            failed.errorText =
                QStringLiteral("HTTP is unavailable: libcurl could not be loaded (") +
                curlLoadError() + u')';
        }
        QTimer::singleShot(0, this,
                           [this, id, failed]() mutable { finish(id, std::move(failed)); });
        return id;
    }
    transfer->deadline.setSingleShot(true);
    transfer->deadline.setTimerType(Qt::PreciseTimer);
    connect(&transfer->deadline, &QTimer::timeout, this, [this, id] {
        FetchResult failed;
        failed.error = FetchResult::Error::Timeout;
        failed.errorText = QStringLiteral("no complete answer within the time limit");
        finish(id, std::move(failed));
    });
    transfer->deadline.start(qMax(1, request.timeoutMs));
    return id;
}

bool HttpClient::start(Transfer &t)
{
    if (!ensureCurl())
        return false;
    if (!t.easy) {
        t.easy = curl_easy_init();
        if (!t.easy)
            return false;
        for (const QByteArray &header : std::as_const(t.request.headers))
            t.headers = curl_slist_append(t.headers, header.constData());
        for (const QByteArray &entry : std::as_const(m_connectTo))
            t.connectTo = curl_slist_append(t.connectTo, entry.constData());
        CURL *e = t.easy;
        // libcurl keeps its own copy of every string option.
        curl_easy_setopt(e, CURLOPT_URL, t.request.url.constData());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // Redirects to file:, ftp:, data: and the like are refused, not followed.
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        // No redirects allowed: a 3xx answer is handed back with its Location, for a caller that
        // follows redirects itself.
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, t.request.maxRedirects > 0 ? 1L : 0L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, long(t.request.maxRedirects));
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(qMax(1, t.request.connectTimeoutMs)));
        // No Referer: after a redirect it would tell the next host the address looked up.
        curl_easy_setopt(e, CURLOPT_AUTOREFERER, 0L);
        if (!m_userAgent.isEmpty())
            curl_easy_setopt(e, CURLOPT_USERAGENT, m_userAgent.constData());
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);
        if (t.connectTo)
            curl_easy_setopt(e, CURLOPT_CONNECT_TO, t.connectTo);
        // The proxy decided here, never libcurl's own reading of the environment: whether a
        // transfer goes through one decides which addresses the private-address rule sees.
        curl_easy_setopt(e, CURLOPT_PROXY, t.proxyUrl.constData());
        curl_easy_setopt(e, CURLOPT_NOPROXY, "");
        // Every encoding this libcurl decodes; the size cap counts the decoded bytes.
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
        // An empty file name switches the cookie engine on; the share keeps the run's cookies.
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(e, CURLOPT_SHARE, m_share);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        // A transfer stopped while its host name is still being looked up leaves the look-up
        // thread to finish alone, rather than holding the event loop until the name server
        // answers.
        curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HttpClient::onBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &HttpClient::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.error);
        if (t.request.refuseNonPublic && !t.viaProxy) {
            // Checked before the socket is opened, so no connection (let alone a TLS handshake)
            // reaches a refused address; and again before the request, for a connection the
            // run had already opened.
            curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &HttpClient::onOpenSocket);
            curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, &t);
            curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &HttpClient::onConnected);
            curl_easy_setopt(e, CURLOPT_PREREQDATA, &t);
        }
        // A declared length beyond the cap is refused before any of the body is read.
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE,
                         curl_off_t(qMax<qint64>(0, t.request.sizeCap)));
        m_byHandle.insert(e, t.id);
    }
    t.inMulti = m_multi->add(t.easy);
    return t.inMulti;
}

size_t HttpClient::onBody(char *data, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    const size_t bytes = size * count;
    // Returning less than was offered ends the transfer with a write error.
    if (qint64(bytes) > t->request.sizeCap - t->body.size()) {
        t->overCap = true;
        return 0;
    }
    t->body.append(data, qsizetype(bytes));
    return bytes;
}

size_t HttpClient::onHeader(char *data, size_t size, size_t count, void *transfer)
{
    auto *t = static_cast<Transfer *>(transfer);
    const size_t bytes = size * count;
    const QByteArrayView line(data, qsizetype(bytes));
    if (line.startsWith("HTTP/")) {
        t->retryAfter.clear(); // a new response (after a redirect) begins
    } else {
        constexpr QByteArrayView name("retry-after:");
        if (line.size() > name.size() &&
            line.first(name.size()).compare(name, Qt::CaseInsensitive) == 0)
            t->retryAfter = line.sliced(name.size()).trimmed().toByteArray();
    }
    return bytes;
}

curl_socket_t HttpClient::onOpenSocket(void *transfer, curlsocktype purpose, curl_sockaddr *address)
{
    auto *t = static_cast<Transfer *>(transfer);
    if (purpose == CURLSOCKTYPE_IPCXN) {
        const IpAddress peer = IpAddress::fromSockaddr(&address->addr);
        const QString kind = AddressRules::nonPublicKind(peer);
        if (!kind.isEmpty()) {
            // libcurl tries the name's next address, if it has one.
            t->refusedPeer =
                peer.toString() + QStringLiteral(" is a ") + kind + QStringLiteral(" address");
            return CURL_SOCKET_BAD;
        }
    }
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int HttpClient::onConnected(void *transfer, char *peer, char *, int, int)
{
    auto *t = static_cast<Transfer *>(transfer);
    const IpAddress address = IpAddress::fromString(QString::fromLatin1(peer));
    const QString kind = AddressRules::nonPublicKind(address);
    if (kind.isEmpty())
        return CURL_PREREQFUNC_OK;
    t->refusedPeer =
        QString::fromLatin1(peer) + QStringLiteral(" is a ") + kind + QStringLiteral(" address");
    return CURL_PREREQFUNC_ABORT;
}

void HttpClient::onTransferDone(CURL *easy, CURLcode result)
{
    const Id id = m_byHandle.value(easy, 0);
    const auto it = m_transfers.find(id);
    if (it == m_transfers.end())
        return;
    Transfer &t = **it;
    t.inMulti = false;

    FetchResult out;
    if (result != CURLE_OK) {
        out.error = errorOf(result, t.overCap);
        out.errorText =
            t.error[0] ? QString::fromUtf8(t.error) : QString::fromUtf8(curl_easy_strerror(result));
        if (!t.refusedPeer.isEmpty()) {
            out.error = FetchResult::Error::Refused;
            out.errorText = QStringLiteral("refused: ") + t.refusedPeer;
            out.refusedNonPublic = true;
        }
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &out.status);
    const char *type = nullptr;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
    out.contentType = QByteArray(type);
    const char *url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    out.finalUrl = QByteArray(url);
    out.retryAfter = t.retryAfter;
    const char *location = nullptr;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
    out.location = QByteArray(location);
    if (out.ok())
        out.body = std::exchange(t.body, {});
    finish(id, std::move(out));
}

void HttpClient::release(Transfer &t)
{
    t.deadline.stop();
    if (t.easy) {
        if (t.inMulti)
            m_multi->remove(t.easy);
        m_byHandle.remove(t.easy);
        curl_easy_cleanup(t.easy);
        t.easy = nullptr;
    }
    curl_slist_free_all(t.headers);
    curl_slist_free_all(t.connectTo);
    t.headers = nullptr;
    t.connectTo = nullptr;
    t.inMulti = false;
}

void HttpClient::finish(Id id, FetchResult result)
{
    const std::shared_ptr<Transfer> t = m_transfers.take(id);
    if (!t)
        return;
    release(*t);
    if (result.ok())
        qCInfo(lcNet).noquote() << result.finalUrl << "HTTP" << result.status << result.body.size()
                                << "bytes";
    else
        qCInfo(lcNet).noquote() << result.finalUrl << "failed:" << result.errorText;
    // Last: the receiver may start the next transfer from here.
    if (t->done)
        t->done(result);
}

void HttpClient::abort(Id id)
{
    if (const std::shared_ptr<Transfer> t = m_transfers.take(id))
        release(*t);
}

void HttpClient::abortAll()
{
    const auto ids = m_transfers.keys();
    for (const Id id : ids)
        abort(id);
}
