#pragma once

#include "run/runoptions.h"
#include "run/runsources.h"

#include <QObject>

class HttpClient;
class HttpRdapFetch;
class RdapBootstrapStore;
class RdapSource;
class WhoisSource;

// The sources of a real run, made from the run's options on first use: the three sites, port 43
// (IANA cache and chain), RDAP (its HTTP client, bootstrap and store) and auto over the two.
class StandardSources : public QObject, public RunSources
{
    Q_OBJECT

public:
    StandardSources(RunOptions options, PoliteScheduler &scheduler, Notice notice = {});
    ~StandardSources() override;

    Source *source(SourceKind kind) override;
    void abortAll() override;

private:
    Source *site(Site site);
    RdapSource *rdap();
    WhoisSource *whois();

    RunOptions m_options;
    PoliteScheduler &m_scheduler;
    Notice m_notice;
    Source *m_site1 = nullptr;
    Source *m_site2 = nullptr;
    Source *m_site3 = nullptr;
    WhoisSource *m_whois = nullptr;
    RdapSource *m_rdap = nullptr;
    Source *m_auto = nullptr;
    HttpClient *m_rdapHttp = nullptr;
    HttpRdapFetch *m_rdapFetch = nullptr;
};
