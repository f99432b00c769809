#include "web/sitefetcher.h"

#include "facts/normaliser.h"
#include "lookup/recordlines.h"
#include "platform/logging.h"

#include <QFutureWatcher>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace {

FailureReason reasonOf(FetchResult::Error error)
{
    switch (error) {
    case FetchResult::Error::None:
        return FailureReason::None;
    case FetchResult::Error::Timeout:
        return FailureReason::Timeout;
    case FetchResult::Error::TooLarge:
        return FailureReason::TooLarge;
    case FetchResult::Error::Refused:
        return FailureReason::Refused;
    case FetchResult::Error::Redirect:
        return FailureReason::Redirect;
    case FetchResult::Error::BadAddress:
    case FetchResult::Error::Network:
        break;
    }
    return FailureReason::Network;
}

// Why a page gave no record: its HTTP status when that was an error ("HTTP 502 from
// whois.example"), the reason's words otherwise.
QString noRecordWords(const LookupResult &result, FailureReason reason, long httpStatus)
{
    if (httpStatus >= 400)
        return QStringLiteral("HTTP %1 from %2").arg(httpStatus).arg(result.servers.value(0));
    return failureReasonText(reason);
}

// Runs on a worker thread: the page's record text and its fields.
LookupResult readPage(LookupResult result, const QByteArray &body, const QByteArray &contentType,
                      long httpStatus, Site site, const ParseLimits &limits)
{
    // UTF-8 from the body to the fields: a UTF-8 page reaches the parser as it came.
    const QByteArray page = DecodePageUtf8(body, contentType);
    result.answer = page;
    const std::optional<QByteArray> record = TryRecordTextUtf8(page, site, limits);
    if (!record) {
        result.status = LookupStatus::Failed;
        result.reason = FailureReason::Unparseable;
        result.error = noRecordWords(result, result.reason, httpStatus);
        return result;
    }
    if (record->isEmpty()) {
        result.status = LookupStatus::Failed;
        result.reason = FailureReason::NoRecord;
        result.error = noRecordWords(result, result.reason, httpStatus);
        return result;
    }
    result.recordText = *record;
    result.facts = factsFromText(QString::fromUtf8(*record));
    result.fields = RecordFieldsOf(*record);
    return result;
}

} // namespace

SiteFetcher::SiteFetcher(QObject *parent)
    : SiteFetcher(SiteTable::fromEnvironment(), FetchLimits{}, parent)
{
}

SiteFetcher::SiteFetcher(SiteTable sites, FetchLimits limits, QObject *parent)
    : QObject(parent), m_sites(std::move(sites)), m_limits(limits), m_http(new HttpClient(this))
{
    m_http->setUserAgent(userAgent());
}

SiteFetcher::~SiteFetcher()
{
    abort();
}

QByteArray SiteFetcher::userAgent()
{
    return QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like "
                             "Gecko) Chrome/120.0.0.0 Safari/537.36");
}

void SiteFetcher::FetchWhoisRecord(Site site, const QString &address)
{
    abort();
    m_fetching = true;
    const quint64 generation = ++m_generation;

    const QString page = m_sites.pageAddress(site, address);
    m_pending = LookupResult{};
    m_pending.address = address;
    m_pending.source = Sites::sourceKind(site);
    const QString host = QUrl(page).host();
    m_pending.servers = QStringList{host.isEmpty() ? page : host};

    FetchRequest request;
    request.url = HttpClient::requestUrl(page);
    request.headers = {"Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
                       "Accept-Language: en-US,en;q=0.9"};
    request.timeoutMs = m_limits.timeoutMs;
    request.sizeCap = m_limits.sizeCap;
    request.maxRedirects = MaxRedirects;
    qCInfo(lcWeb).noquote() << address << "loading" << page;
    m_transfer = m_http->get(request, [this, generation, site](const FetchResult &result) {
        m_transfer = 0;
        if (generation != m_generation || !m_fetching)
            return;
        if (!result.ok()) {
            LookupResult failed = m_pending;
            failed.status = LookupStatus::Failed;
            failed.reason = reasonOf(result.error);
            failed.error =
                failureReasonText(failed.reason) + QStringLiteral(": ") + result.errorText;
            complete(std::move(failed));
            return;
        }
        // An error status still brings a page, read like any other.
        auto *watcher = new QFutureWatcher<LookupResult>(this);
        m_parse = watcher;
        connect(watcher, &QFutureWatcher<LookupResult>::finished, this,
                [this, watcher, generation] {
                    watcher->deleteLater();
                    if (generation == m_generation && m_fetching)
                        complete(watcher->result());
                });
        watcher->setFuture(QtConcurrent::run(readPage, m_pending, result.body, result.contentType,
                                             result.status, site, m_limits.parse));
    });
}

void SiteFetcher::abort()
{
    ++m_generation;
    if (m_transfer) {
        m_http->abort(m_transfer);
        m_transfer = 0;
    }
    // A parse under way runs out on its worker; its result is dropped.
    if (m_parse) {
        m_parse->disconnect(this);
        m_parse->deleteLater();
        m_parse = nullptr;
    }
    m_fetching = false;
}

void SiteFetcher::complete(LookupResult result)
{
    if (!m_fetching)
        return;
    m_fetching = false;
    m_parse = nullptr;
    ++m_generation;
    setOutcomeStatus(result);
    qCInfo(lcWeb).noquote() << result.address << "page read:"
                            << (result.ok() ? QStringLiteral("%1 fields").arg(result.fields.size())
                                            : result.error);
    // Last: a receiver may start the next fetch from its slot.
    emit finished(result);
}
