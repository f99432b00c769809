#pragma once

#include "lookup/politescheduler.h"
#include "lookup/source.h"
#include "web/sitefetcher.h"

#include <deque>

// One of the three whois web sites as a source: one server, no referral, the page's record
// element as the record. The page is loaded and read (on a worker thread) as one request to
// the site, so the next address waits for the whole of the previous one.
class SiteSource : public Source
{
    Q_OBJECT

public:
    // `connectTo`: the connect-to map in libcurl's form, so a mapped site host goes where the
    // user said.
    SiteSource(Site site, const SiteTable &sites, const FetchLimits &limits,
               const QList<QByteArray> &connectTo, PoliteScheduler &scheduler,
               QObject *parent = nullptr);

    void lookup(quint64 tag, const QString &address, Done done) override;
    void abortAll() override;
    bool isFetching() const { return m_fetcher->isFetching(); }
    void setProxy(const ProxySettings &proxy) { m_fetcher->setProxy(proxy); }

private:
    void fetched(const LookupResult &result);

    Site m_site;
    SiteTable m_sites;
    SiteFetcher *m_fetcher;
    // The request in flight (the scheduler lets one at a time go to the site).
    PoliteScheduler::Settle m_settle;
    Done m_done;
    quint64 m_generation = 0;
};
