#include "whoisfetcher.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <utility>

namespace {

// Errors QNetworkReply reports for an HTTP error status; the page itself arrived and is read
// like any other.
bool isStatusError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= 201 && code <= 299) || (code >= 401 && code <= 499) ||
           error == QNetworkReply::ProtocolInvalidOperationError;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isWebScheme(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

} // namespace

WhoisFetcher::WhoisFetcher(QObject *parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
    m_manager->setCookieJar(new QNetworkCookieJar(m_manager));
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        dropReply();
        complete(false, {});
    });
}

WhoisFetcher::~WhoisFetcher()
{
    abort();
}

void WhoisFetcher::setTransferTimeout(int ms)
{
    m_transferTimeoutMs = qMax(1, ms);
}

void WhoisFetcher::setSizeCap(qint64 bytes)
{
    m_sizeCap = qMax<qint64>(0, bytes);
}

QByteArray WhoisFetcher::userAgent()
{
    return QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like "
                             "Gecko) Chrome/120.0.0.0 Safari/537.36");
}

QUrl WhoisFetcher::requestUrl(const QString &pageAddress)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray encoded;
    const QByteArray utf8 = pageAddress.toUtf8();
    encoded.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7F && c != '#') {
            encoded.append(ch);
        } else {
            encoded.append('%');
            encoded.append(hex[c >> 4]);
            encoded.append(hex[c & 0xF]);
        }
    }
    // Tolerant parsing keeps every other character; a '%' that starts no escape is sent as %25.
    return QUrl::fromEncoded(encoded, QUrl::TolerantMode);
}

void WhoisFetcher::FetchWhoisRecord(Site site, const QString &address)
{
    abort();
    m_site = site;
    m_fetching = true;
    m_body.clear();
    m_redirects = 0;
    const quint64 generation = ++m_generation;

    const QUrl url = requestUrl(Sites::pageAddress(site, address));
    if (!url.isValid() || !isWebScheme(url)) {
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == m_generation && m_fetching)
                complete(false, {});
        });
        return;
    }
    m_deadline.start(m_transferTimeoutMs);
    request(url);
}

void WhoisFetcher::request(const QUrl &url)
{
    QNetworkRequest request(url);
    // Redirects are followed here, not by Qt, to see each target before it is asked for.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setRawHeader("Accept",
                         "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    request.setRawHeader("Accept-Language", "en-US,en;q=0.9");
    // The whole fetch is timed by m_deadline; Qt's own timer only sees inactivity.
    request.setTransferTimeout(0);

    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    // Keeps Qt from buffering far ahead of what the size check has seen.
    reply->setReadBufferSize(256 * 1024);
    connect(reply, &QNetworkReply::metaDataChanged, this, &WhoisFetcher::onMetaDataChanged);
    connect(reply, &QNetworkReply::readyRead, this, &WhoisFetcher::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &WhoisFetcher::onReplyFinished);
}

void WhoisFetcher::abort()
{
    ++m_generation;
    m_deadline.stop();
    dropReply();
    m_body.clear();
    m_fetching = false;
}

void WhoisFetcher::onMetaDataChanged()
{
    if (!m_reply)
        return;
    // A body declared larger than the cap is refused before any of it is read. With a content
    // encoding the declared length is the encoded one, so only the decoded count decides.
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (isRedirect(status))
        return;
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if ((encoding.isEmpty() || encoding == "identity") && length.isValid() &&
        length.toLongLong() > m_sizeCap) {
        dropReply();
        complete(false, {});
    }
}

void WhoisFetcher::onReadyRead()
{
    if (!readBody()) {
        dropReply();
        complete(false, {});
    }
}

// Takes what the reply holds; false when the body has grown beyond the cap.
bool WhoisFetcher::readBody()
{
    while (m_reply && m_reply->bytesAvailable() > 0) {
        const qint64 room = m_sizeCap + 1 - m_body.size();
        const QByteArray chunk = m_reply->read(qMin<qint64>(m_reply->bytesAvailable(), room));
        if (chunk.isEmpty())
            break;
        m_body.append(chunk);
        if (m_body.size() > m_sizeCap)
            return false;
    }
    return true;
}

void WhoisFetcher::onReplyFinished()
{
    if (!m_reply)
        return;
    const QNetworkReply::NetworkError error = m_reply->error();
    const QVariant statusAttribute = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.toInt();
    // An error page is read like any other page; a transfer that failed is no page at all
    // (a failure in decoding the content is reported as a content error with a 2xx status).
    if (!statusAttribute.isValid() ||
        (error != QNetworkReply::NoError && !(status >= 400 && isStatusError(error)))) {
        dropReply();
        complete(false, {});
        return;
    }
    if (isRedirect(status) && m_reply->hasRawHeader("Location")) {
        const QUrl target = m_reply->url().resolved(
            QUrl::fromEncoded(m_reply->rawHeader("Location").trimmed(), QUrl::TolerantMode));
        dropReply();
        m_body.clear();
        if (++m_redirects > MaxRedirects || !target.isValid() || !isWebScheme(target)) {
            complete(false, {});
            return;
        }
        request(target);
        return;
    }
    if (!readBody()) {
        dropReply();
        complete(false, {});
        return;
    }
    // A connection lost within the body can come through as a normal end; a body shorter
    // than its declared length is a page cut short.
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if ((encoding.isEmpty() || encoding == "identity") && length.isValid() &&
        m_body.size() < length.toLongLong()) {
        dropReply();
        complete(false, {});
        return;
    }
    const QByteArray contentType = m_reply->rawHeader("Content-Type");
    dropReply();
    const QByteArray body = std::exchange(m_body, {});
    const std::optional<QString> record =
        TryRecordText(DecodePage(body, contentType), m_site, m_parseLimits);
    complete(record.has_value(), record.value_or(QString()));
}

void WhoisFetcher::dropReply()
{
    if (QNetworkReply *reply = m_reply.data()) {
        m_reply.clear();
        disconnect(reply, nullptr, this, nullptr);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
    }
}

void WhoisFetcher::complete(bool ok, const QString &record)
{
    if (!m_fetching)
        return;
    m_deadline.stop();
    m_fetching = false;
    m_body.clear();
    ++m_generation;
    // A connection that carried a broken or refused page may hold the rest of it: the next
    // page goes over a fresh one.
    if (!ok)
        m_manager->clearConnectionCache();
    // Last: a receiver may start the next fetch from its slot.
    emit finished(ok, record);
}
