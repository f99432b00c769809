#include "run/standardsources.h"

#include "net/httpclient.h"
#include "rdap/httprdapfetch.h"
#include "rdap/rdapbootstrapstore.h"
#include "rdap/rdapsource.h"
#include "run/autosource.h"
#include "web/sitesource.h"
#include "whois/whoissource.h"

#include <QPointer>

StandardSources::StandardSources(RunOptions options, PoliteScheduler &scheduler, Notice notice)
    : m_options(std::move(options)), m_scheduler(scheduler), m_notice(std::move(notice))
{
}

StandardSources::~StandardSources()
{
    // The sources before the transports they use (all are children of this object).
    for (Source *source : {m_auto, static_cast<Source *>(m_rdap), static_cast<Source *>(m_whois),
                           m_site1, m_site2, m_site3})
        delete source;
}

Source *StandardSources::source(SourceKind kind)
{
    switch (kind) {
    case SourceKind::Site1:
        return site(Site::Option1);
    case SourceKind::Site2:
        return site(Site::Option2);
    case SourceKind::Site3:
        return site(Site::Option3);
    case SourceKind::Whois:
        return whois();
    case SourceKind::Rdap:
        return rdap();
    case SourceKind::Auto:
        if (!m_auto)
            m_auto = new AutoSource(*rdap(), *whois(), m_scheduler, this);
        return m_auto;
    }
    return nullptr;
}

Source *StandardSources::site(Site site)
{
    Source *&source = site == Site::Option1 ? m_site1 : site == Site::Option2 ? m_site2 : m_site3;
    if (!source) {
        auto *made = new SiteSource(site, m_options.sites, m_options.limits,
                                    m_options.connectTo.curlEntries(), m_scheduler, this);
        made->setProxy(m_options.proxy);
        source = made;
    }
    return source;
}

WhoisSource *StandardSources::whois()
{
    if (!m_whois) {
        WhoisSourceOptions options;
        options.connectTo = m_options.connectTo;
        options.proxy = m_options.proxy;
        options.limits = m_options.whoisLimits;
        options.cacheFolder = m_options.cacheFolder;
        options.firstServer = m_options.whoisServer;
        options.followReferrals = m_options.followReferrals;
        m_whois = new WhoisSource(options, m_scheduler, this);
    }
    return m_whois;
}

RdapSource *StandardSources::rdap()
{
    if (m_rdap)
        return m_rdap;
    m_rdapHttp = new HttpClient(this);
    m_rdapHttp->setConnectTo(m_options.connectTo.curlEntries());
    m_rdapHttp->setProxy(m_options.proxy);
    // One kept-alive connection per server that may be busy: with `parallel` sized to the files
    // the process may open, the idle ones fit as well.
    m_rdapHttp->setMaxCachedConnections(m_options.parallel);
    m_rdapFetch = new HttpRdapFetch(m_rdapHttp, false, m_options.connectTo, this);
    m_rdapFetch->setTimeoutMs(m_options.rdapTimeoutMs);
    RdapSource::Bootstrap bootstrap;
    RdapSource::WhenUsable whenUsable;
    if (m_options.rdapBootstrap) {
        bootstrap = [b = m_options.rdapBootstrap]() -> const RdapBootstrap & { return *b; };
    } else {
        RdapBootstrapStore *store = m_options.rdapBootstrapStore;
        if (!store)
            store = RdapBootstrapStore::withOwnClient(m_options.connectTo, m_options.proxy, this,
                                                      m_options.rdapTimeoutMs);
        connect(store, &RdapBootstrapStore::notice, this, [this](const QString &text) {
            if (m_notice)
                m_notice(text);
        });
        store->refreshIfStale();
        bootstrap = [store = QPointer(store)]() -> const RdapBootstrap & {
            return store->bootstrap();
        };
        whenUsable = [store = QPointer(store)](QObject *context, std::function<void()> go) {
            if (store)
                store->whenUsable(context, std::move(go));
        };
    }
    m_rdap = new RdapSource(std::move(bootstrap), m_rdapFetch, m_scheduler, this);
    m_rdap->setWhenUsable(std::move(whenUsable));
    return m_rdap;
}

void StandardSources::abortAll()
{
    for (Source *source : {m_site1, m_site2, m_site3, static_cast<Source *>(m_whois),
                           static_cast<Source *>(m_rdap), m_auto}) {
        if (source)
            source->abortAll();
    }
    if (m_rdapHttp)
        m_rdapHttp->abortAll();
}
