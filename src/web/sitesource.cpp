#include "web/sitesource.h"

#include <QUrl>

SiteSource::SiteSource(Site site, const SiteTable &sites, const FetchLimits &limits,
                       const QList<QByteArray> &connectTo, PoliteScheduler &scheduler,
                       QObject *parent)
    : Source(scheduler, parent), m_site(site), m_sites(sites),
      m_fetcher(new SiteFetcher(sites, limits, this))
{
    m_fetcher->setConnectTo(connectTo);
    connect(m_fetcher, &SiteFetcher::finished, this, &SiteSource::fetched);
}

void SiteSource::lookup(quint64 tag, const QString &address, Done done)
{
    const QUrl page(m_sites.pageAddress(m_site, address));
    QString server = page.host();
    if (page.port() > 0)
        server += u':' + QString::number(page.port());
    const quint64 generation = m_generation;
    m_scheduler.submit(
        server.isEmpty() ? page.toString() : server, tag,
        [this, address, done, generation](const PoliteScheduler::Settle &settle) {
            if (generation != m_generation)
                return;
            m_settle = settle;
            m_done = done;
            m_fetcher->FetchWhoisRecord(m_site, address);
        },
        [this, address, done, generation](PoliteScheduler::GiveUp why, const QString &reason) {
            if (generation != m_generation)
                return;
            LookupResult failed;
            failed.address = address;
            failed.source = Sites::sourceKind(m_site);
            setFailure(failed,
                       why == PoliteScheduler::GiveUp::Throttled ? FailureReason::Throttled
                                                                 : FailureReason::ServerDown,
                       reason);
            done(failed);
        });
}

void SiteSource::fetched(const LookupResult &result)
{
    const PoliteScheduler::Settle settle = std::exchange(m_settle, {});
    const Done done = std::exchange(m_done, {});
    if (!settle)
        return;
    Verdict verdict;
    if (!result.ok()) {
        const bool unreachable =
            result.reason == FailureReason::Timeout || result.reason == FailureReason::Refused;
        verdict.kind = unreachable ? Verdict::Kind::Unreachable : Verdict::Kind::Failed;
        verdict.reason = result.error;
    }
    if (settle(verdict))
        done(result);
}

void SiteSource::abortAll()
{
    ++m_generation;
    m_fetcher->abort();
    m_settle = {};
    m_done = {};
}
