#include "run/autosource.h"

#include "lookup/query.h"
#include "rdap/rdapsource.h"
#include "whois/whoissource.h"

AutoSource::AutoSource(RdapSource &rdap, WhoisSource &whois, PoliteScheduler &scheduler,
                       QObject *parent)
    : Source(scheduler, parent), m_rdap(rdap), m_whois(whois)
{
}

void AutoSource::lookup(quint64 tag, const QString &address, Done done)
{
    Query query = parseQuery(address);
    query.text = address;
    if (!query.isValid()) {
        m_rdap.lookup(tag, query, std::move(done));
        return;
    }
    // Which protocol asks is the bootstrap's to say: decided once its files are in, so an
    // address goes the same way on a cold cache as on a warm one.
    m_rdap.whenBootstrapUsable([this, tag, query, done = std::move(done)] {
        if (m_rdap.servicesFor(query).isEmpty())
            m_whois.lookup(tag, query, done);
        else
            m_rdap.lookup(tag, query, done);
    });
}

void AutoSource::abortAll()
{
    m_rdap.abortAll();
    m_whois.abortAll();
}
