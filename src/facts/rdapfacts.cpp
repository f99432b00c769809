// Reading facts from RDAP objects (RFC 9083) directly: events, entities by role with their jCard,
// name servers, status, secureDNS, and the ip network and autnum members.
#include "facts/iprange.h"
#include "facts/labeltable.h"
#include "facts/normaliser.h"
#include "facts/whoisdate.h"

#include <QJsonArray>

namespace {

// RDAP status values and the EPP codes port-43 records print for them (RFC 8056); the others
// become camel case ("client transfer prohibited" -> "clientTransferProhibited").
struct StatusName
{
    const char *rdap;
    const char *epp;
};
const StatusName statusNames[] = {
    {"active", "ok"},
    {"associated", "linked"},
};

// Event actions and the fact each dates.
struct EventName
{
    const char *action;
    QString RecordFacts::*fact;
};
const EventName eventNames[] = {
    {"registration", &RecordFacts::created},
    {"last changed", &RecordFacts::updated},
    {"expiration", &RecordFacts::expires},
};

QString eppStatus(const QString &rdap)
{
    for (const StatusName &s : statusNames) {
        if (rdap.compare(QLatin1String(s.rdap), Qt::CaseInsensitive) == 0)
            return QLatin1String(s.epp);
    }
    QString out;
    bool upper = false;
    for (QChar c : rdap) {
        if (c == QLatin1Char(' ')) {
            upper = !out.isEmpty();
            continue;
        }
        out += upper ? c.toUpper() : c;
        upper = false;
    }
    return out;
}

bool hasRole(const QJsonObject &entity, QLatin1String role)
{
    const QJsonArray roles = entity.value(QLatin1String("roles")).toArray();
    for (const QJsonValue &r : roles) {
        if (r.toString().compare(role, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The first entity with the role, searched breadth first through nested entities.
QJsonObject entityWithRole(const QJsonObject &object, QLatin1String role)
{
    QList<QJsonObject> level{object};
    for (int depth = 0; depth < 4 && !level.isEmpty(); ++depth) {
        QList<QJsonObject> next;
        for (const QJsonObject &o : level) {
            const QJsonArray entities = o.value(QLatin1String("entities")).toArray();
            for (const QJsonValue &e : entities) {
                const QJsonObject entity = e.toObject();
                if (hasRole(entity, role))
                    return entity;
                next.append(entity);
            }
        }
        level = next;
    }
    return {};
}

// The value of a jCard property ("fn", "org", "email", "tel", "adr", "kind"), and its
// parameters.
struct CardProperty
{
    QJsonObject parameters;
    QJsonValue value;
};

CardProperty cardProperty(const QJsonObject &entity, QLatin1String name)
{
    const QJsonArray card = entity.value(QLatin1String("vcardArray")).toArray();
    const QJsonArray properties = card.size() > 1 ? card.at(1).toArray() : QJsonArray();
    for (const QJsonValue &p : properties) {
        const QJsonArray property = p.toArray();
        if (property.size() >= 4 && property.at(0).toString() == name)
            return {property.at(1).toObject(), property.at(3)};
    }
    return {};
}

QString cardText(const QJsonObject &entity, QLatin1String name)
{
    const QJsonValue value = cardProperty(entity, name).value;
    QString text;
    if (value.isArray()) {
        // "org" may be a list of units; the first is the organisation.
        const QJsonArray parts = value.toArray();
        text = parts.isEmpty() ? QString() : parts.at(0).toString();
    } else {
        text = value.toString();
    }
    text = text.trimmed();
    if (text.startsWith(QLatin1String("tel:")) || text.startsWith(QLatin1String("mailto:")))
        text = text.mid(text.indexOf(QLatin1Char(':')) + 1);
    return isRedactedValue(text) ? QString() : text;
}

QString cardCountry(const QJsonObject &entity)
{
    const CardProperty adr = cardProperty(entity, QLatin1String("adr"));
    const QString cc = adr.parameters.value(QLatin1String("cc")).toString();
    if (!cc.isEmpty())
        return countryCode(cc);
    const QJsonArray parts = adr.value.toArray();
    if (parts.size() >= 7)
        return countryCode(parts.at(6).toString());
    return {};
}

// The organisation an entity stands for: its "org", or its name when it is one.
QString entityOrganization(const QJsonObject &entity)
{
    const QString org = cardText(entity, QLatin1String("org"));
    if (!org.isEmpty())
        return org;
    if (cardText(entity, QLatin1String("kind"))
            .compare(QLatin1String("org"), Qt::CaseInsensitive) == 0)
        return cardText(entity, QLatin1String("fn"));
    return {};
}

void readNetwork(const QJsonObject &object, RecordFacts &facts)
{
    const QString start = object.value(QLatin1String("startAddress")).toString();
    const QString end = object.value(QLatin1String("endAddress")).toString();
    if (!start.isEmpty() && !end.isEmpty()) {
        if (const auto range = ipRangeFromText(QString(start + QLatin1String(" - ") + end))) {
            facts.networkRange = range->range;
            facts.networkCidr = range->cidr;
        }
    }
    const QJsonArray cidrs = object.value(QLatin1String("cidr0_cidrs")).toArray();
    QStringList prefixes;
    for (const QJsonValue &c : cidrs) {
        const QJsonObject cidr = c.toObject();
        QString prefix = cidr.value(QLatin1String("v4prefix")).toString();
        if (prefix.isEmpty())
            prefix = cidr.value(QLatin1String("v6prefix")).toString();
        if (!prefix.isEmpty())
            prefixes.append(prefix + QLatin1Char('/') +
                            QString::number(cidr.value(QLatin1String("length")).toInt()));
    }
    if (!prefixes.isEmpty())
        facts.networkCidr = prefixes.join(QLatin1String(", "));
    facts.networkName = object.value(QLatin1String("name")).toString();
    facts.networkHandle = object.value(QLatin1String("handle")).toString();
    facts.networkCountry = countryCode(object.value(QLatin1String("country")).toString());
    const QJsonObject registrant = entityWithRole(object, QLatin1String("registrant"));
    facts.networkOrganization = entityOrganization(registrant);
    if (facts.networkOrganization.isEmpty())
        facts.networkOrganization = cardText(registrant, QLatin1String("fn"));
    if (object.contains(QLatin1String("startAutnum"))) {
        const qint64 first = object.value(QLatin1String("startAutnum")).toInteger();
        facts.originAs = QLatin1String("AS") + QString::number(first);
    }
}

RecordFacts readObject(const QJsonObject &object)
{
    RecordFacts facts;
    if (object.isEmpty())
        return facts;
    if (object.contains(QLatin1String("errorCode"))) {
        const int code = object.value(QLatin1String("errorCode")).toInt();
        if (code == 404)
            facts.status = RecordStatus::Available;
        else if (code == 429)
            facts.status = RecordStatus::Throttled;
        else if (code == 400)
            facts.status = RecordStatus::Invalid;
        return facts;
    }
    facts.status = RecordStatus::Registered;

    const QJsonArray events = object.value(QLatin1String("events")).toArray();
    for (const QJsonValue &e : events) {
        const QJsonObject event = e.toObject();
        const QString action = event.value(QLatin1String("eventAction")).toString();
        for (const EventName &name : eventNames) {
            QString &fact = facts.*(name.fact);
            if (fact.isEmpty() &&
                action.compare(QLatin1String(name.action), Qt::CaseInsensitive) == 0)
                fact = utcDateFromText(event.value(QLatin1String("eventDate")).toString());
        }
    }

    const QJsonObject registrar = entityWithRole(object, QLatin1String("registrar"));
    facts.registrar = cardText(registrar, QLatin1String("fn"));
    if (facts.registrar.isEmpty())
        facts.registrar = cardText(registrar, QLatin1String("org"));
    const QJsonArray ids = registrar.value(QLatin1String("publicIds")).toArray();
    for (const QJsonValue &i : ids) {
        const QJsonObject id = i.toObject();
        if (id.value(QLatin1String("type"))
                .toString()
                .contains(QLatin1String("IANA"), Qt::CaseInsensitive))
            facts.registrarIanaId = id.value(QLatin1String("identifier")).toString();
    }

    const QJsonObject abuse = entityWithRole(object, QLatin1String("abuse"));
    facts.abuseEmail = cardText(abuse, QLatin1String("email"));
    facts.abusePhone = cardText(abuse, QLatin1String("tel"));

    const QString kind = object.value(QLatin1String("objectClassName")).toString();
    if (kind == QLatin1String("ip network") || kind == QLatin1String("autnum")) {
        readNetwork(object, facts);
    } else {
        const QJsonObject registrant = entityWithRole(object, QLatin1String("registrant"));
        facts.registrantOrganization = entityOrganization(registrant);
        facts.registrantCountry = cardCountry(registrant);
    }

    const QJsonArray nameservers = object.value(QLatin1String("nameservers")).toArray();
    for (const QJsonValue &n : nameservers) {
        QString host = n.toObject().value(QLatin1String("ldhName")).toString().toLower();
        while (host.endsWith(QLatin1Char('.')))
            host.chop(1);
        if (!host.isEmpty() && !facts.nameServers.contains(host))
            facts.nameServers.append(host);
    }
    const QJsonArray status = object.value(QLatin1String("status")).toArray();
    for (const QJsonValue &s : status) {
        const QString epp = eppStatus(s.toString().trimmed());
        if (!epp.isEmpty() && !facts.domainStatus.contains(epp))
            facts.domainStatus.append(epp);
    }
    const QJsonValue signedValue = object.value(QLatin1String("secureDNS"))
                                       .toObject()
                                       .value(QLatin1String("delegationSigned"));
    if (signedValue.isBool())
        facts.dnssec = signedValue.toBool() ? QStringLiteral("signed") : QStringLiteral("unsigned");
    return facts;
}

} // namespace

RecordFacts factsFromRdap(const QJsonObject &registry, const QJsonObject &registrar)
{
    RecordFacts facts = readObject(registry);
    if (registrar.isEmpty() || facts.status != RecordStatus::Registered)
        return facts;
    const RecordFacts more = readObject(registrar);
    auto fill = [](QString &mine, const QString &theirs) {
        if (mine.isEmpty())
            mine = theirs;
    };
    fill(facts.registrar, more.registrar);
    fill(facts.registrarIanaId, more.registrarIanaId);
    fill(facts.created, more.created);
    fill(facts.updated, more.updated);
    fill(facts.expires, more.expires);
    if (facts.nameServers.isEmpty())
        facts.nameServers = more.nameServers;
    if (facts.domainStatus.isEmpty())
        facts.domainStatus = more.domainStatus;
    fill(facts.dnssec, more.dnssec);
    fill(facts.registrantOrganization, more.registrantOrganization);
    fill(facts.registrantCountry, more.registrantCountry);
    fill(facts.abuseEmail, more.abuseEmail);
    fill(facts.abusePhone, more.abusePhone);
    return facts;
}
