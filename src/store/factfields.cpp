#include "store/factfields.h"

#include <algorithm>

namespace {

// What a user watching a domain or a network wants told when it moves: who holds it, when it
// ends, where it points, how it is locked and signed, which block and which AS it is in. The
// dates of creation and update and the contacts are kept but not reported.
const FactField Fields[] = {
    {"status", nullptr, nullptr, true, true},
    {"registrar", &RecordFacts::registrar, nullptr, true},
    {"registrar_iana_id", &RecordFacts::registrarIanaId, nullptr, true},
    {"created", &RecordFacts::created, nullptr, false},
    {"updated", &RecordFacts::updated, nullptr, false},
    {"expires", &RecordFacts::expires, nullptr, true},
    {"name_servers", nullptr, &RecordFacts::nameServers, true},
    {"domain_status", nullptr, &RecordFacts::domainStatus, true},
    {"dnssec", &RecordFacts::dnssec, nullptr, true},
    {"registrant_organization", &RecordFacts::registrantOrganization, nullptr, false},
    {"registrant_country", &RecordFacts::registrantCountry, nullptr, false},
    {"abuse_email", &RecordFacts::abuseEmail, nullptr, false},
    {"abuse_phone", &RecordFacts::abusePhone, nullptr, false},
    {"network_range", &RecordFacts::networkRange, nullptr, true},
    {"network_cidr", &RecordFacts::networkCidr, nullptr, true},
    {"network_name", &RecordFacts::networkName, nullptr, true},
    {"network_handle", &RecordFacts::networkHandle, nullptr, false},
    {"network_country", &RecordFacts::networkCountry, nullptr, false},
    {"network_organization", &RecordFacts::networkOrganization, nullptr, true},
    {"origin_as", &RecordFacts::originAs, nullptr, true},
    {"registrar_handle", &RecordFacts::registrarHandle, nullptr, false},
};

RecordStatus statusNamed(const QString &word)
{
    for (const RecordStatus status :
         {RecordStatus::Registered, RecordStatus::Available, RecordStatus::Reserved,
          RecordStatus::Throttled, RecordStatus::Failed, RecordStatus::Invalid}) {
        if (recordStatusName(status) == word)
            return status;
    }
    return RecordStatus::Unknown;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

namespace FactFields {

std::span<const FactField> all()
{
    return Fields;
}

QString text(const RecordFacts &facts, const FactField &field)
{
    if (field.status)
        return recordStatusName(facts.status);
    return field.list ? (facts.*field.list).join(QLatin1Char(' ')) : facts.*field.text;
}

QString stored(const RecordFacts &facts, const FactField &field)
{
    return field.list ? (facts.*field.list).join(QLatin1Char('\n')) : text(facts, field);
}

void restore(RecordFacts &facts, const FactField &field, const QString &value)
{
    if (field.status)
        facts.status = statusNamed(value);
    else if (field.list)
        facts.*field.list = value.isEmpty() ? QStringList() : value.split(QLatin1Char('\n'));
    else
        facts.*field.text = value;
}

QList<Change> changes(const RecordFacts &before, const RecordFacts &after)
{
    QList<Change> out;
    for (const FactField &field : Fields) {
        if (!field.tracked)
            continue;
        if (field.list) {
            const QStringList a = sorted(before.*field.list);
            const QStringList b = sorted(after.*field.list);
            if (a != b)
                out.append({field.key, a.join(QLatin1Char(' ')), b.join(QLatin1Char(' '))});
        } else if (text(before, field) != text(after, field)) {
            out.append({field.key, text(before, field), text(after, field)});
        }
    }
    return out;
}

} // namespace FactFields
