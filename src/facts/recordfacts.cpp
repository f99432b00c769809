#include "facts/recordfacts.h"

#include <QJsonArray>

QString recordStatusName(RecordStatus status)
{
    switch (status) {
    case RecordStatus::Unknown:
        break;
    case RecordStatus::Registered:
        return QStringLiteral("registered");
    case RecordStatus::Available:
        return QStringLiteral("available");
    case RecordStatus::Reserved:
        return QStringLiteral("reserved");
    case RecordStatus::Throttled:
        return QStringLiteral("throttled");
    case RecordStatus::Failed:
        return QStringLiteral("failed");
    case RecordStatus::Invalid:
        return QStringLiteral("invalid");
    }
    return {};
}

namespace {

QString statusCell(const RecordFacts &facts)
{
    return recordStatusName(facts.status);
}

QJsonValue statusJson(const RecordFacts &facts)
{
    return recordStatusName(facts.status);
}

template <QString RecordFacts::*Member> QString textCell(const RecordFacts &facts)
{
    return facts.*Member;
}

template <QString RecordFacts::*Member> QJsonValue textJson(const RecordFacts &facts)
{
    return facts.*Member;
}

template <QStringList RecordFacts::*Member> QString listCell(const RecordFacts &facts)
{
    return (facts.*Member).join(QLatin1Char(' '));
}

template <QStringList RecordFacts::*Member> QJsonValue listJson(const RecordFacts &facts)
{
    return QJsonArray::fromStringList(facts.*Member);
}

template <QStringList RecordFacts::*Member> QStringList listItems(const RecordFacts &facts)
{
    return facts.*Member;
}

#define TEXT_FACT(key, caption, member)                                                            \
    FactColumn                                                                                     \
    {                                                                                              \
        key, caption, &textCell<&RecordFacts::member>, &textJson<&RecordFacts::member>             \
    }
#define LIST_FACT(key, caption, member)                                                            \
    FactColumn                                                                                     \
    {                                                                                              \
        key, caption, &listCell<&RecordFacts::member>, &listJson<&RecordFacts::member>,            \
            &listItems<&RecordFacts::member>                                                       \
    }

const FactColumn columns[] = {
    FactColumn{"status", "Status", &statusCell, &statusJson},
    TEXT_FACT("registrar", "Registrar", registrar),
    TEXT_FACT("registrar_iana_id", "Registrar IANA ID", registrarIanaId),
    TEXT_FACT("registrar_handle", "Registrar Handle", registrarHandle),
    TEXT_FACT("created", "Created", created),
    TEXT_FACT("updated", "Updated", updated),
    TEXT_FACT("expires", "Expires", expires),
    LIST_FACT("name_servers", "Name Servers", nameServers),
    LIST_FACT("domain_status", "Domain Status", domainStatus),
    TEXT_FACT("dnssec", "DNSSEC", dnssec),
    TEXT_FACT("registrant_organization", "Registrant Organization", registrantOrganization),
    TEXT_FACT("registrant_country", "Registrant Country", registrantCountry),
    TEXT_FACT("abuse_email", "Abuse Email", abuseEmail),
    TEXT_FACT("abuse_phone", "Abuse Phone", abusePhone),
    TEXT_FACT("network_range", "Network Range", networkRange),
    TEXT_FACT("network_cidr", "CIDR", networkCidr),
    TEXT_FACT("network_name", "Network Name", networkName),
    TEXT_FACT("network_handle", "Network Handle", networkHandle),
    TEXT_FACT("network_country", "Network Country", networkCountry),
    TEXT_FACT("network_organization", "Network Organization", networkOrganization),
    TEXT_FACT("origin_as", "Origin AS", originAs),
};

} // namespace

std::span<const FactColumn> factColumns()
{
    return columns;
}
