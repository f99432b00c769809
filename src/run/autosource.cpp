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
    if (query.isValid() && m_rdap.servicesFor(query).isEmpty())
        m_whois.lookup(tag, query, std::move(done));
    else
        m_rdap.lookup(tag, query, std::move(done));
}

void AutoSource::abortAll()
{
    m_rdap.abortAll();
    m_whois.abortAll();
}
