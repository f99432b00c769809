// The facts of RDAP objects, taken from the one reading (rdapreading.cpp) the record lines are
// also made from; here they are only put in the facts' own forms (lower-case host names, country
// codes, "signed"/"unsigned", lists without repeats).
#include "facts/iprange.h"
#include "facts/labeltable.h"
#include "facts/normaliser.h"
#include "facts/rdapreading.h"

namespace {

void appendNew(QStringList &list, const QString &value)
{
    if (!value.isEmpty() && !list.contains(value))
        list.append(value);
}

QString hostName(QString name)
{
    name = name.toLower();
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name;
}

QString contactCountry(const RdapContact &contact)
{
    const QString code = countryCode(contact.countryCode);
    return code.isEmpty() ? countryCode(contact[RdapContact::Country]) : code;
}

void domainFacts(const RdapDomain &d, RecordFacts &facts)
{
    facts.registrar = d.registrar;
    facts.registrarIanaId = d.registrarIanaId;
    facts.created = d.created.utc;
    facts.updated = d.updated.utc;
    facts.expires = d.expires.utc.isEmpty() ? d.registrarExpires.utc : d.expires.utc;
    for (const QString &server : d.nameServers)
        appendNew(facts.nameServers, hostName(server));
    for (const QString &status : d.statuses)
        appendNew(facts.domainStatus, status);
    if (d.delegationSigned)
        facts.dnssec = *d.delegationSigned ? QStringLiteral("signed") : QStringLiteral("unsigned");
    const RdapContact &registrant = d.contacts[RdapDomain::Registrant];
    facts.registrantOrganization = registrant.organization();
    facts.registrantCountry = contactCountry(registrant);
    facts.abuseEmail = d.abuseEmail;
    facts.abusePhone = d.abusePhone;
}

void networkFacts(RdapObjectKind kind, const RdapNetwork &n, RecordFacts &facts)
{
    facts.created = n.registered.utc;
    facts.updated = n.updated.utc;
    for (const QString &status : n.statuses)
        appendNew(facts.domainStatus, status);
    facts.abuseEmail = n.abuseEmail;
    facts.abusePhone = n.abusePhone;
    if (!n.startAddress.isEmpty() && !n.endAddress.isEmpty())
        facts.networkRange = ipRangeTextFromText(QString(n.startAddress + u" - " + n.endAddress));
    facts.networkCidr = n.cidrs.join(QLatin1String(", "));
    facts.networkName = n.name;
    facts.networkHandle = n.handle;
    facts.networkCountry = countryCode(n.country);
    facts.networkOrganization = n.holder.organizationOrName();
    if (kind == RdapObjectKind::Autnum && n.startAutnum)
        facts.originAs = QLatin1String("AS") + QString::number(*n.startAutnum);
}

} // namespace

RecordFacts factsFromRdapReading(const RdapReading &reading)
{
    RecordFacts facts;
    if (reading.empty)
        return facts;
    if (reading.error) {
        if (reading.errorCode == 404)
            facts.status = RecordStatus::Available;
        else if (reading.errorCode == 429)
            facts.status = RecordStatus::Throttled;
        else if (reading.errorCode == 400)
            facts.status = RecordStatus::Invalid;
        return facts;
    }
    facts.status = RecordStatus::Registered;
    switch (reading.kind) {
    case RdapObjectKind::Domain:
        domainFacts(reading.domain, facts);
        break;
    case RdapObjectKind::IpNetwork:
    case RdapObjectKind::Autnum:
        networkFacts(reading.kind, reading.network, facts);
        break;
    case RdapObjectKind::Unknown:
        break;
    }
    return facts;
}

RecordFacts factsFromRdap(const RdapValue &registry, const RdapValue &registrar,
                          RdapObjectKind asked)
{
    return factsFromRdapReading(readRdap(registry, registrar, asked));
}
