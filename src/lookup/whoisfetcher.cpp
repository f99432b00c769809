#include "lookup/whoisfetcher.h"

#include "lookup/curlmulti.h"

#include <utility>

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

} // namespace

WhoisFetcher::WhoisFetcher(QObject *parent)
    : QObject(parent), m_multi(new CurlMulti(this)), m_easy(curl_easy_init())
{
    Q_CHECK_PTR(m_easy);
    m_headers = curl_slist_append(
        m_headers, "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    m_headers = curl_slist_append(m_headers, "Accept-Language: en-US,en;q=0.9");

    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects to file:, ftp:, data: and the like are refused, not followed.
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, long(MaxRedirects));
    curl_easy_setopt(m_easy, CURLOPT_AUTOREFERER, 0L);
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, userAgent().constData());
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
    // Every encoding this libcurl decodes; the size cap counts the decoded bytes.
    curl_easy_setopt(m_easy, CURLOPT_ACCEPT_ENCODING, "");
    // An empty file name switches the in-memory cookie store on for the handle's lifetime.
    curl_easy_setopt(m_easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    // A fetch stopped while its host name is still being looked up leaves the look-up thread
    // to finish alone, rather than holding the window until the name server answers.
    curl_easy_setopt(m_easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &WhoisFetcher::onBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    setSizeCap(m_sizeCap);

    connect(m_multi, &CurlMulti::done, this, &WhoisFetcher::onTransferDone);
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        stopTransfer();
        complete(false, {});
    });
}

WhoisFetcher::~WhoisFetcher()
{
    abort();
    curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
}

void WhoisFetcher::setTransferTimeout(int ms)
{
    m_transferTimeoutMs = qMax(1, ms);
}

void WhoisFetcher::setSizeCap(qint64 bytes)
{
    m_sizeCap = qMax<qint64>(0, bytes);
    // A declared length beyond the cap is refused before any of the body is read.
    curl_easy_setopt(m_easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_sizeCap));
}

QByteArray WhoisFetcher::userAgent()
{
    return QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like "
                             "Gecko) Chrome/120.0.0.0 Safari/537.36");
}

QByteArray WhoisFetcher::requestUrl(const QString &pageAddress)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = pageAddress.toUtf8();
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

void WhoisFetcher::FetchWhoisRecord(Site site, const QString &address)
{
    abort();
    m_site = site;
    m_fetching = true;
    m_body.clear();
    const quint64 generation = ++m_generation;

    // libcurl keeps its own copy of the address.
    const QByteArray url = requestUrl(Sites::pageAddress(site, address));
    curl_easy_setopt(m_easy, CURLOPT_URL, url.constData());
    if (!isWebAddress(url) || !m_multi->add(m_easy)) {
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == m_generation && m_fetching)
                complete(false, {});
        });
        return;
    }
    m_transferring = true;
    m_deadline.start(m_transferTimeoutMs);
}

void WhoisFetcher::abort()
{
    ++m_generation;
    m_deadline.stop();
    stopTransfer();
    m_body.clear();
    m_fetching = false;
}

size_t WhoisFetcher::onBody(char *data, size_t size, size_t count, void *self)
{
    auto *fetcher = static_cast<WhoisFetcher *>(self);
    const size_t bytes = size * count;
    // Returning less than was offered ends the transfer with a write error.
    if (qint64(bytes) > fetcher->m_sizeCap - fetcher->m_body.size())
        return 0;
    fetcher->m_body.append(data, qsizetype(bytes));
    return bytes;
}

void WhoisFetcher::onTransferDone(CURL *easy, CURLcode result)
{
    if (easy != m_easy || !m_transferring)
        return;
    m_transferring = false;
    // A transfer that failed (no answer, cut short, over a bound, a refused redirect, more
    // than libcurl's 300 KiB of response headers) is no page at all. An error status still
    // brings a page, read like any other.
    if (result != CURLE_OK) {
        complete(false, {});
        return;
    }
    const char *type = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_TYPE, &type);
    const QByteArray contentType(type);
    const QByteArray body = std::exchange(m_body, {});
    const std::optional<QString> record =
        TryRecordText(DecodePage(body, contentType), m_site, m_parseLimits);
    complete(record.has_value(), record.value_or(QString()));
}

void WhoisFetcher::stopTransfer()
{
    if (m_transferring) {
        m_transferring = false;
        m_multi->remove(m_easy);
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
    // Last: a receiver may start the next fetch from its slot.
    emit finished(ok, record);
}
