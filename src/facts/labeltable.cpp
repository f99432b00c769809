#include "facts/labeltable.h"
#include "facts/recordfacts.h"
#include "text/asciicase.h"
#include "text/textcache.h"

#include <QHash>

#include <algorithm>
#include <string>
#include <string_view>

namespace {

struct LabelEntry
{
    const char *label;
    Field field;
    int rank;
    bool generic;
};

// Label synonyms of every registry layout, lower case as normalisedLabel gives them. "a/b" is
// label b under section heading a; "a/" is an unlabelled line under heading a.
const LabelEntry labels[] = {
    // The name itself (counts as a record only together with other facts).
    {"domain name", Field::DomainName, 1, false},
    {"domain", Field::DomainName, 1, true},
    {"domainname", Field::DomainName, 1, false},
    {"domain-name", Field::DomainName, 1, false},
    {"nome de domínio", Field::DomainName, 1, false},
    {"ドメイン名", Field::DomainName, 1, false},

    // Registrar: its name, not its URL or handle number.
    {"registrar", Field::Registrar, 1, false},
    {"registrar/", Field::Registrar, 1, false},
    {"sponsoring registrar", Field::Registrar, 1, false},
    {"sponsoring registrar name", Field::Registrar, 1, false},
    {"registrar name", Field::Registrar, 1, false},
    {"registrar-name", Field::Registrar, 1, false},
    {"registrar organization", Field::Registrar, 1, false},
    {"registrar company", Field::Registrar, 1, false},
    {"registrar/organization", Field::Registrar, 0, false},
    {"registrar/organisation", Field::Registrar, 0, false},
    {"registrar/company", Field::Registrar, 1, false},
    {"registrar/name", Field::Registrar, 2, false},
    {"registrar/organization name", Field::Registrar, 1, false},
    {"current registrar", Field::Registrar, 1, false},
    {"current registar", Field::Registrar, 1, false},
    {"registration service provider", Field::Registrar, 2, false},
    {"registration service provided by", Field::Registrar, 2, false},
    {"registrar of record", Field::Registrar, 2, false},
    {"authorized agency", Field::Registrar, 2, false},
    {"registrador", Field::Registrar, 2, false},
    {"agente registrador", Field::Registrar, 2, false},
    {"bureau d'enregistrement", Field::Registrar, 2, false},
    {"sponsoring registrar/name", Field::Registrar, 2, false},
    {"sponsoring registrar organization", Field::Registrar, 1, false},
    {"registered through", Field::Registrar, 2, false},

    // The registry's own handle of the registrar.
    {"registrar handle", Field::RegistrarHandle, 1, false},
    {"registrar id", Field::RegistrarHandle, 1, false},
    {"registrar-id", Field::RegistrarHandle, 1, false},
    {"sponsoring registrar id", Field::RegistrarHandle, 1, false},
    {"registrar/handle", Field::RegistrarHandle, 1, false},
    {"registrar/id", Field::RegistrarHandle, 1, false},
    {"registrar/number", Field::RegistrarHandle, 1, false},
    {"registrar/nic-hdl", Field::RegistrarHandle, 1, false},

    {"registrar iana id", Field::RegistrarIanaId, 1, false},
    {"sponsoring registrar iana id", Field::RegistrarIanaId, 1, false},
    {"registrar/iana id", Field::RegistrarIanaId, 1, false},
    {"iana id", Field::RegistrarIanaId, 2, false},

    // Creation.
    {"creation date", Field::Created, 1, false},
    {"domain registration date", Field::Created, 1, false},
    {"domain create date", Field::Created, 1, false},
    {"domain created", Field::Created, 1, false},
    {"domain name commencement date", Field::Created, 1, false},
    {"created date", Field::Created, 2, false},
    {"create date", Field::Created, 2, false},
    {"created on", Field::Created, 2, false},
    {"registered on", Field::Created, 2, false},
    {"registered date", Field::Created, 2, false},
    {"registration date", Field::Created, 2, false},
    {"registration time", Field::Created, 2, false},
    {"record created", Field::Created, 2, false},
    {"domain record activated", Field::Created, 2, false},
    {"activated on", Field::Created, 2, false},
    {"commencement date", Field::Created, 2, false},
    {"first registration date", Field::Created, 2, false},
    {"domain registered", Field::Created, 2, false},
    {"domain dateregistered", Field::Created, 2, false},
    {"date registered", Field::Created, 2, false},
    {"created at", Field::Created, 2, false},
    {"data de registo", Field::Created, 2, false},
    {"登録年月日", Field::Created, 2, false},
    {"fecha de creación", Field::Created, 2, false},
    {"fecha de creacion", Field::Created, 2, false},
    {"fecha de registro", Field::Created, 2, false},
    {"registrado", Field::Created, 3, true},
    {"date de création", Field::Created, 2, false},
    {"created", Field::Created, 3, true},
    {"registered", Field::Created, 3, true},
    {"regdate", Field::Created, 3, true},
    {"registration", Field::Created, 3, true},

    // Last change of the domain (never the database's own update time).
    {"updated date", Field::Updated, 1, false},
    {"domain last updated", Field::Updated, 1, false},
    {"domain record last updated", Field::Updated, 1, false},
    {"domain last updated date", Field::Updated, 1, false},
    {"domain datelastmodified", Field::Updated, 1, false},
    {"record last updated", Field::Updated, 2, false},
    {"record last modified", Field::Updated, 2, false},
    {"last update date", Field::Updated, 2, false},
    {"last modified date", Field::Updated, 2, false},
    {"modification date", Field::Updated, 2, false},
    {"updated on", Field::Updated, 2, false},
    {"last-updated", Field::Updated, 2, false},
    {"last updated date", Field::Updated, 2, false},
    {"last updated on", Field::Updated, 2, false},
    {"record last updated on", Field::Updated, 2, false},
    {"last updated", Field::Updated, 2, false},
    {"last modified", Field::Updated, 2, false},
    {"last modification date", Field::Updated, 2, false},
    {"modified date", Field::Updated, 2, false},
    {"update date", Field::Updated, 2, false},
    {"最終更新", Field::Updated, 2, false},
    {"última actualización", Field::Updated, 2, false},
    {"fecha de última actualización", Field::Updated, 2, false},
    {"fecha de actualización", Field::Updated, 2, false},
    {"last update", Field::Updated, 2, true},
    {"last-update", Field::Updated, 2, true},
    {"last-modified", Field::Updated, 3, true},
    {"modified", Field::Updated, 3, true},
    {"changed", Field::Updated, 3, true},
    {"updated", Field::Updated, 3, true},

    // Expiry.
    {"registry expiry date", Field::Expires, 1, false},
    {"domain expiration date", Field::Expires, 1, false},
    {"expiration date", Field::Expires, 1, false},
    {"expiry date", Field::Expires, 1, false},
    {"registrar registration expiration date", Field::Expires, 2, false},
    {"expires on", Field::Expires, 2, false},
    {"expire date", Field::Expires, 2, false},
    {"expires at", Field::Expires, 2, false},
    {"validity", Field::Expires, 2, false},
    {"expiration time", Field::Expires, 2, false},
    {"record expires on", Field::Expires, 2, false},
    {"paid-till", Field::Expires, 2, false},
    {"renewal date", Field::Expires, 2, false},
    {"valid until", Field::Expires, 2, false},
    {"domain expires", Field::Expires, 2, false},
    {"domain datebilleduntil", Field::Expires, 2, false},
    {"expire-date", Field::Expires, 2, false},
    {"record will expire on", Field::Expires, 2, false},
    {"record expired", Field::Expires, 2, false},
    {"exact expiry date", Field::Expires, 1, false},
    {"valid-date", Field::Expires, 2, false},
    {"data de expiração", Field::Expires, 2, false},
    {"有効期限", Field::Expires, 2, false},
    {"fecha de vencimiento", Field::Expires, 2, false},
    {"fecha de expiración", Field::Expires, 2, false},
    {"fecha de expiracion", Field::Expires, 2, false},
    {"expiracion", Field::Expires, 2, false},
    {"expiración", Field::Expires, 2, false},
    {"date d'expiration", Field::Expires, 2, false},
    {"expires", Field::Expires, 2, true},
    {"expire", Field::Expires, 2, true},
    {"expiry", Field::Expires, 2, true},
    {"renewal", Field::Expires, 3, true},

    // Name servers.
    {"name server", Field::NameServer, 1, false},
    {"name servers", Field::NameServer, 1, false},
    {"nameserver", Field::NameServer, 1, false},
    {"nameservers", Field::NameServer, 1, false},
    {"name-server", Field::NameServer, 1, false},
    {"nserver", Field::NameServer, 1, false},
    {"domain nameservers", Field::NameServer, 1, false},
    {"domain servers", Field::NameServer, 1, false},
    {"domain servers in listed order", Field::NameServer, 1, false},
    {"dns servers", Field::NameServer, 1, false},
    {"name servers information", Field::NameServer, 1, false},
    {"servidores dns", Field::NameServer, 1, false},
    {"ネームサーバ", Field::NameServer, 1, false},
    {"host name", Field::NameServer, 1, false},
    {"hostname", Field::NameServer, 1, false},
    {"primary server", Field::NameServer, 1, false},
    {"secondary server", Field::NameServer, 1, false},
    {"name server information", Field::NameServer, 1, false},
    {"primary name server/host name", Field::NameServer, 1, false},
    {"secondary name server/host name", Field::NameServer, 1, false},
    {"domain name servers", Field::NameServer, 1, false},
    {"nameserver information", Field::NameServer, 1, false},
    {"ns", Field::NameServer, 1, false},
    {"ns name", Field::NameServer, 1, false},
    {"dns name", Field::NameServer, 1, false},
    // .rs "DNS: ns1.example.rs - 192.0.2.1"; .dk writes the domain itself as "DNS:".
    {"dns", Field::NameServer, 2, true},

    // Status words.
    {"domain status", Field::DomainStatus, 1, false},
    {"registration status", Field::DomainStatus, 2, false},
    {"epp status", Field::DomainStatus, 2, false},
    {"query status", Field::DomainStatus, 2, false},
    {"dom status", Field::DomainStatus, 2, false},
    {"状態", Field::DomainStatus, 2, false},
    {"flags", Field::DomainStatus, 3, false},
    {"status", Field::DomainStatus, 2, true},
    {"state", Field::DomainStatus, 2, true},
    {"estado", Field::DomainStatus, 2, true},

    // DNSSEC.
    {"dnssec", Field::Dnssec, 1, false},
    {"domain signed", Field::Dnssec, 1, false},
    {"signed", Field::Dnssec, 2, false},
    {"dnskey", Field::DnssecKey, 3, false},
    {"ds-record", Field::DnssecKey, 3, false},
    {"ds record", Field::DnssecKey, 3, false},
    {"keyset", Field::DnssecKey, 3, false},
    {"signing key", Field::DnssecKey, 3, false},
    {"keys/flags", Field::DnssecKey, 3, false},

    // Registrant.
    {"registrant organization", Field::RegistrantOrganization, 1, false},
    {"registrant organisation", Field::RegistrantOrganization, 1, false},
    {"contact organization", Field::RegistrantOrganization, 2, false},
    {"registrant/organization", Field::RegistrantOrganization, 1, false},
    {"registrant/organisation", Field::RegistrantOrganization, 1, false},
    {"registrant/org", Field::RegistrantOrganization, 1, false},
    {"owner contact/organization", Field::RegistrantOrganization, 1, false},
    {"組織名", Field::RegistrantOrganization, 1, false},
    {"organization", Field::RegistrantOrganization, 2, true},
    {"organisation", Field::RegistrantOrganization, 2, true},
    {"org", Field::RegistrantOrganization, 2, true},
    {"owner", Field::RegistrantOrganization, 2, true},
    {"registrant", Field::RegistrantOrganization, 3, false},
    {"registrant/", Field::RegistrantOrganization, 3, false},
    {"registrant/name", Field::RegistrantOrganization, 3, false},
    {"holder of domain name/", Field::RegistrantOrganization, 3, false},
    {"holder/", Field::RegistrantOrganization, 3, false},
    {"holder/name", Field::RegistrantOrganization, 3, false},
    {"登録者名", Field::RegistrantOrganization, 3, false},

    {"registrant country", Field::RegistrantCountry, 1, false},
    {"registrant country code", Field::RegistrantCountry, 1, false},
    {"registrant country/economy", Field::RegistrantCountry, 1, false},
    {"registrant/country", Field::RegistrantCountry, 1, false},
    {"registrant/country code", Field::RegistrantCountry, 1, false},
    {"holder/country", Field::RegistrantCountry, 1, false},

    // Abuse contact of the registrar or network.
    {"registrar abuse contact email", Field::AbuseEmail, 1, false},
    {"registrar abuse email", Field::AbuseEmail, 1, false},
    {"abuse contact email", Field::AbuseEmail, 1, false},
    {"abuse email", Field::AbuseEmail, 1, false},
    {"abuse-mailbox", Field::AbuseEmail, 1, false},
    {"abuse-email", Field::AbuseEmail, 1, false},
    {"orgabuseemail", Field::AbuseEmail, 1, false},
    {"rabuseemail", Field::AbuseEmail, 2, false},
    {"registrar abuse contact phone", Field::AbusePhone, 1, false},
    {"registrar abuse phone", Field::AbusePhone, 1, false},
    {"abuse contact phone", Field::AbusePhone, 1, false},
    {"abuse phone", Field::AbusePhone, 1, false},
    {"orgabusephone", Field::AbusePhone, 1, false},
    {"rabusephone", Field::AbusePhone, 2, false},

    // Objects of address registries.
    {"inetnum", Field::NetworkRange, 1, false},
    {"inet6num", Field::NetworkRange, 1, false},
    {"netrange", Field::NetworkRange, 1, false},
    {"ipv4 address", Field::NetworkRange, 1, false},
    {"ipv6 address", Field::NetworkRange, 1, false},
    {"network number", Field::NetworkRange, 1, false},
    {"ネットワーク番号", Field::NetworkRange, 1, false},
    {"aut-num", Field::AutNum, 1, false},
    {"asnumber", Field::AutNum, 1, false},
    {"origin", Field::OriginAs, 1, false},
    {"originas", Field::OriginAs, 1, false},
};

// Labels read inside a network or AS number object; they take precedence there.
const LabelEntry networkLabels[] = {
    {"cidr", Field::NetworkCidr, 1, false},
    {"netname", Field::NetworkName, 1, false},
    {"network name", Field::NetworkName, 1, false},
    {"ネットワーク名", Field::NetworkName, 1, false},
    {"as-name", Field::NetworkName, 1, false},
    {"asname", Field::NetworkName, 1, false},
    {"nethandle", Field::NetworkHandle, 1, false},
    {"ashandle", Field::NetworkHandle, 1, false},
    {"country", Field::NetworkCountry, 1, false},
    {"org-name", Field::NetworkOrganization, 1, false},
    {"orgname", Field::NetworkOrganization, 1, false},
    {"organization", Field::NetworkOrganization, 1, false},
    {"organisation", Field::None, 0, false}, // RIPE's object key: a handle
    {"owner", Field::NetworkOrganization, 1, false},
    {"custname", Field::NetworkOrganization, 1, false},
    {"customer", Field::NetworkOrganization, 1, false},
    {"組織名", Field::NetworkOrganization, 1, false},
    {"descr", Field::NetworkOrganization, 3, false},
    // Handles and words of network objects that must not be read as domain facts.
    {"org", Field::None, 0, false},
    {"status", Field::None, 0, false},
    {"source", Field::None, 0, false},
};

// Words of section headings under which bare words such as "created" or "changed" speak of
// something else than the domain: its contacts, its registrar, its name servers and keys, the
// whois service itself.
const char *const foreignSectionWords[] = {
    "registrant", "registrar", "holder", "contact", "admin",  "tech",   "billing",
    "owner",      "whois",     "zone",   "keys",    "dnssec", "server", "organization using",
};

// First labels of the objects that follow a domain object in RPSL-style answers (registrar,
// contacts, name server sets): their bare words ("created", "org") are not the domain's.
const char *const otherObjects[] = {
    "registrar", "contact", "nic-hdl", "nic-hdl-br", "person",       "role",
    "nsset",     "keyset",  "irt",     "mntner",     "organisation",
};

// First labels of objects that say nothing of the domain at all.
const char *const ignoredObjects[] = {
    "server name",
};

// Lines without a colon that start with the name of a fact.
struct Prefix
{
    const char *words;
    Field field;
};
const Prefix prefixes[] = {
    {"record created on", Field::Created},
    {"record expires on", Field::Expires},
    {"record last updated on", Field::Updated},
    {"created on", Field::Created},
    {"expires on", Field::Expires},
    {"registered on", Field::Created},
};

// Status values that speak of the name rather than of a registration.
struct StatusValue
{
    const char *value;
    RecordStatus status;
};
const StatusValue statusValues[] = {
    {"free", RecordStatus::Available},           {"available", RecordStatus::Available},
    {"220 available", RecordStatus::Available},  {"no object found", RecordStatus::Available},
    {"not registered", RecordStatus::Available}, {"reserved", RecordStatus::Reserved},
    {"blocked", RecordStatus::Reserved},         {"invalid", RecordStatus::Invalid},
};

// DNSSEC values: the first entry contained in the lower-cased value decides.
struct DnssecValue
{
    const char *word;
    bool whole; // the value must be exactly the word
    const char *result;
};
const DnssecValue dnssecValues[] = {
    {"unsigned", false, "unsigned"}, {"not signed", false, "unsigned"},
    {"inactive", false, "unsigned"}, {"signed", false, "signed"},
    {"yes", true, "signed"},         {"true", true, "signed"},
    {"active", true, "signed"},      {"enabled", true, "signed"},
    {"no", true, "unsigned"},        {"false", true, "unsigned"},
    {"y", true, "signed"},           {"n", true, "unsigned"},
    {"none", true, "unsigned"},      {"disabled", true, "unsigned"},
};

// Country names records print instead of a code.
struct CountryName
{
    const char *name;
    const char *code;
};
const CountryName countryNames[] = {
    {"united states", "US"},
    {"united states of america", "US"},
    {"usa", "US"},
    {"united kingdom", "GB"},
    {"great britain", "GB"},
    {"uk", "GB"},
    {"germany", "DE"},
    {"deutschland", "DE"},
    {"france", "FR"},
    {"japan", "JP"},
    {"china", "CN"},
    {"canada", "CA"},
    {"australia", "AU"},
    {"netherlands", "NL"},
    {"the netherlands", "NL"},
    {"italy", "IT"},
    {"spain", "ES"},
    {"russia", "RU"},
    {"russian federation", "RU"},
    {"brazil", "BR"},
    {"brasil", "BR"},
    {"india", "IN"},
    {"korea", "KR"},
    {"republic of korea", "KR"},
    {"south korea", "KR"},
    {"switzerland", "CH"},
    {"sweden", "SE"},
    {"norway", "NO"},
    {"denmark", "DK"},
    {"finland", "FI"},
    {"poland", "PL"},
    {"belgium", "BE"},
    {"austria", "AT"},
    {"ireland", "IE"},
    {"mexico", "MX"},
    {"singapore", "SG"},
    {"hong kong", "HK"},
    {"taiwan", "TW"},
    {"israel", "IL"},
    {"turkey", "TR"},
    {"south africa", "ZA"},
    {"new zealand", "NZ"},
    {"argentina", "AR"},
    {"chile", "CL"},
    {"portugal", "PT"},
    {"czech republic", "CZ"},
    {"czechia", "CZ"},
    {"ukraine", "UA"},
    {"luxembourg", "LU"},
    {"panama", "PA"},
    {"cyprus", "CY"},
    {"iceland", "IS"},
    {"estonia", "EE"},
    {"latvia", "LV"},
    {"lithuania", "LT"},
    {"greece", "GR"},
    {"hungary", "HU"},
    {"romania", "RO"},
    {"bulgaria", "BG"},
    {"united arab emirates", "AE"},
    {"saudi arabia", "SA"},
    {"indonesia", "ID"},
    {"malaysia", "MY"},
    {"thailand", "TH"},
    {"vietnam", "VN"},
    {"viet nam", "VN"},
    {"philippines", "PH"},
    {"colombia", "CO"},
    {"peru", "PE"},
};

// Placeholders printed where data is withheld.
const char *const redactions[] = {
    "redacted",
    "not disclosed",
    "data protected",
    "withheld",
    "gdpr",
    "not shown",
    "non-public",
    "statutory masking",
    "hidden upon user request",
    "private person",
};

// Registrar values that say there is none: the start of the value, or the whole of it.
const char *const noRegistrarOpenings[] = {
    "no registrar",
};
const char *const noRegistrarValues[] = {
    "none", "n/a", "na", "-", "not available", "not applicable", "unknown",
};

using Table = QHash<QString, LabelMeaning>;

template <size_t N> Table makeTable(const LabelEntry (&entries)[N])
{
    Table table;
    table.reserve(qsizetype(N));
    for (const LabelEntry &e : entries)
        table.insert(QString::fromUtf8(e.label), LabelMeaning{e.field, e.rank, e.generic});
    return table;
}

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c.unicode() == 0x3000 ||
           c.unicode() == 0xa0;
}

} // namespace

LabelMeaning labelMeaning(const QString &label)
{
    static const Table table = makeTable(labels);
    return table.value(label);
}

std::optional<LabelMeaning> networkLabelMeaning(const QString &label)
{
    static const Table table = makeTable(networkLabels);
    const auto it = table.constFind(label);
    if (it == table.constEnd())
        return std::nullopt;
    return *it;
}

bool isIgnoredObject(const QString &firstLabel)
{
    for (const char *name : ignoredObjects) {
        if (firstLabel == QLatin1String(name))
            return true;
    }
    return false;
}

bool isOtherObject(const QString &firstLabel)
{
    for (const char *name : otherObjects) {
        if (firstLabel == QLatin1String(name))
            return true;
    }
    return false;
}

bool isForeignSection(const QString &section)
{
    for (const char *word : foreignSectionWords) {
        if (section.contains(QLatin1String(word)))
            return true;
    }
    return false;
}

namespace {

QString normalise(QStringView label);

} // namespace

QString normalisedLabel(QStringView label)
{
    // Every labelled line of every answer comes here, and a server writes the same labels in
    // every answer: each label's form is kept per thread as it was written (emptied when it
    // holds too many), a hash look-up and a shared copy instead of its making.
    thread_local TextCache<QString> kept;
    if (const QString *normalised = kept.find(label))
        return *normalised;
    return kept.keep(label, normalise(label));
}

namespace {

QString normalise(QStringView label)
{
    label = label.trimmed();
    while (label.startsWith(QLatin1Char('>')) || label.startsWith(QLatin1Char('*')))
        label = label.mid(1).trimmed();
    if (label.startsWith(QLatin1Char('[')) && label.endsWith(QLatin1Char(']')))
        label = label.mid(1, label.size() - 2).trimmed();
    while (!label.isEmpty() && (label.back() == QLatin1Char('.') || isSpaceOrTab(label.back())))
        label.chop(1);
    // Written in place: one allocation per label, as many lines as a record has.
    QString out(label.size(), Qt::Uninitialized);
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    char16_t *end = begin;
    bool space = false;
    for (QChar c : label) {
        char16_t u = c.unicode();
        // Lower-case letters and digits first: most of a label.
        if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) {
        } else if (isSpaceOrTab(c) || u == '_') {
            space = true;
            continue;
        } else if (u >= 'A' && u <= 'Z') {
            u = char16_t(u - 'A' + 'a');
        } else if (u >= 128) {
            u = c.toLower().unicode();
        }
        if (space && end != begin)
            *end++ = u' ';
        space = false;
        *end++ = u;
    }
    // "NS 1", "ns_name_01": the number of a repeated label.
    char16_t *digits = end;
    while (digits > begin && digits[-1] >= '0' && digits[-1] <= '9')
        --digits;
    if (digits < end && digits - begin > 1 && digits[-1] == u' ')
        end = digits - 1;
    out.truncate(end - begin);
    return out;
}

} // namespace

LabelMeaning labelMeaningOfParts(const QString &label, QStringView *note)
{
    LabelMeaning meaning = labelMeaning(label);
    if (meaning.field != Field::None)
        return meaning;
    QStringView rest(label);
    // "creation date (dd/mm/yyyy)", "servidores de nombre (domain servers)"
    if (rest.endsWith(QLatin1Char(')'))) {
        const qsizetype open = rest.lastIndexOf(QLatin1Char('('));
        if (open > 0) {
            if (note)
                *note = rest.sliced(open + 1, rest.size() - open - 2);
            rest = rest.left(open).trimmed();
            meaning = labelMeaning(rest.toString());
            if (meaning.field != Field::None)
                return meaning;
        }
    }
    // "nome de domínio / domain name": either side.
    const qsizetype slash = indexOfCaseless(rest, " / ");
    if (slash > 0) {
        meaning = labelMeaning(rest.mid(slash + 3).trimmed().toString());
        if (meaning.field == Field::None)
            meaning = labelMeaning(rest.left(slash).trimmed().toString());
    }
    return meaning;
}

bool isKnownLabel(QStringView label)
{
    return labelMeaningOfParts(normalisedLabel(label)).field != Field::None;
}

Field prefixedFact(QStringView line, qsizetype &prefixLength)
{
    // Every line comes here: its first letter, folded as the comparison folds it, passes most
    // lines by without a comparison.
    const char16_t first = line.isEmpty() ? 0 : asciiLower(line.front().unicode());
    for (const Prefix &p : prefixes) {
        if (first != char16_t(p.words[0]))
            continue;
        const std::string_view words(p.words);
        const qsizetype length = qsizetype(words.size());
        if (line.size() > length && startsWithCaseless(line, words) && isSpaceOrTab(line[length])) {
            prefixLength = length;
            return p.field;
        }
    }
    return Field::None;
}

RecordStatus statusFromStatusValue(QStringView value)
{
    value = value.trimmed();
    while (value.endsWith(QLatin1Char('.')) || value.endsWith(QLatin1Char('!')))
        value.chop(1);
    // Letter case folds one UTF-16 unit to one: a value of another length cannot match (most
    // status values are EPP codes with a URL, longer than any of these).
    for (const StatusValue &s : statusValues) {
        const QLatin1StringView word(s.value);
        if (value.size() == word.size() && value.compare(word, Qt::CaseInsensitive) == 0)
            return s.status;
    }
    return RecordStatus::Unknown;
}

QString dnssecFromValue(QStringView value)
{
    value = value.trimmed();
    for (const DnssecValue &d : dnssecValues) {
        const QLatin1String word(d.word);
        const bool found =
            d.whole ? value.size() == word.size() && value.compare(word, Qt::CaseInsensitive) == 0
                    : value.contains(word, Qt::CaseInsensitive);
        if (found)
            return QLatin1String(d.result);
    }
    return {};
}

QString countryCode(QStringView value)
{
    value = value.trimmed();
    if (value.size() == 2 && value[0].isLetter() && value[1].isLetter() &&
        value[0].unicode() < 128 && value[1].unicode() < 128)
        return value.toString().toUpper();
    if (value.isEmpty())
        return {};
    for (const CountryName &c : countryNames) {
        // Letter case folds one UTF-16 unit to one: names of another length cannot match.
        const QLatin1StringView name(c.name);
        if (value.size() == name.size() && value.compare(name, Qt::CaseInsensitive) == 0)
            return QLatin1String(c.code);
    }
    return {};
}

bool isNoRegistrarValue(QStringView value)
{
    value = value.trimmed();
    for (const char *opening : noRegistrarOpenings) {
        if (value.startsWith(QLatin1String(opening), Qt::CaseInsensitive))
            return true;
    }
    for (const char *none : noRegistrarValues) {
        if (equalsCaseless(value, QLatin1StringView(none)))
            return true;
    }
    return false;
}

bool isRedactedValue(QStringView value)
{
    // The value's start in lower-case ASCII (other characters match no placeholder), searched
    // for each placeholder: a few values a record, each looked at once.
    char folded[256];
    const size_t size = size_t(std::min<qsizetype>(value.size(), qsizetype(sizeof folded)));
    for (size_t i = 0; i < size; ++i) {
        const char16_t u = value[qsizetype(i)].unicode();
        folded[i] = u >= 'A' && u <= 'Z' ? char(u - 'A' + 'a') : u < 128 ? char(u) : '\x80';
    }
    const std::string_view text(folded, size);
    for (const char *r : redactions) {
        if (text.find(r) != std::string_view::npos)
            return true;
    }
    return false;
}
