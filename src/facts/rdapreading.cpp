#include "facts/rdapreading.h"

#include "facts/iprange.h"
#include "facts/whoisdate.h"
#include "text/asciicase.h"

#include <QRegularExpression>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <string_view>

using namespace Qt::Literals::StringLiterals;

namespace {

using Part = RdapContact::Part;

// ---- What the outside world calls things -------------------------------------------------

struct KindName
{
    RdapObjectKind kind;
    QLatin1StringView className;
};
constexpr KindName KindNames[] = {
    {RdapObjectKind::Domain, "domain"_L1},
    {RdapObjectKind::IpNetwork, "ip network"_L1},
    {RdapObjectKind::Autnum, "autnum"_L1},
};

// The members that tell an object's kind when it does not name its class, in the order they
// are tried.
struct KindMember
{
    QLatin1StringView member;
    RdapObjectKind kind;
};
constexpr KindMember KindMembers[] = {
    {"startAddress"_L1, RdapObjectKind::IpNetwork},
    {"endAddress"_L1, RdapObjectKind::IpNetwork},
    {"startAutnum"_L1, RdapObjectKind::Autnum},
    {"ldhName"_L1, RdapObjectKind::Domain},
};

// RDAP status values whose EPP code is not simply their words run together (RFC 8056).
struct StatusName
{
    QStringView rdap;
    QStringView epp;
};
constexpr StatusName StatusExceptions[] = {
    {u"active", u"ok"},
    {u"associated", u"linked"},
};

// The domain contacts by role, in the order of RdapDomain::Role, with the prefix the registered
// names of their redactions carry ("Registrant Email").
struct RoleName
{
    QLatin1StringView role;
    QStringView redactionPrefix;
};
constexpr RoleName DomainRoles[RdapDomain::RoleCount] = {
    {"registrant"_L1, u"Registrant"},
    {"administrative"_L1, u"Admin"},
    {"technical"_L1, u"Tech"},
    {"billing"_L1, u"Billing"},
};

// The roles entities are looked up by (compared without letter case): the domain's contacts
// above, a domain's registrar and the abuse contact.
constexpr QLatin1StringView KnownRoles[] = {
    "registrant"_L1, "administrative"_L1, "technical"_L1, "billing"_L1, "registrar"_L1, "abuse"_L1,
};
constexpr std::size_t LongestRole = [] {
    std::size_t longest = 0;
    for (const QLatin1StringView role : KnownRoles)
        longest = std::max(longest, std::size_t(role.size()));
    return longest;
}();

// The registered names of redacted fields, after the role's prefix, and the part they hide.
struct RedactionName
{
    Part part;
    QStringView suffix;
};
constexpr RedactionName RedactionSuffixes[] = {
    {Part::Name, u"Name"},
    {Part::Organization, u"Organization"},
    {Part::Street, u"Street"},
    {Part::City, u"City"},
    {Part::Region, u"State/Province"},
    {Part::PostalCode, u"Postal Code"},
    {Part::Country, u"Country"},
    {Part::Phone, u"Phone"},
    {Part::Phone, u"Phone Ext"},
    {Part::Fax, u"Fax"},
    {Part::Fax, u"Fax Ext"},
    {Part::Email, u"Email"},
};

// Values that stand for a withheld one, compared without letter case: whole values, then parts
// of values.
constexpr QLatin1StringView PlaceholderValues[] = {
    "redacted"_L1,
    "redacted for privacy"_L1,
    "redacted for privacy purposes"_L1,
    "data redacted"_L1,
    "data protected"_L1,
    "not disclosed"_L1,
    "non-public data"_L1,
    "withheld for privacy"_L1,
    "privacy"_L1,
    "gdpr masked"_L1,
    "statutory masking enabled"_L1,
    "hidden upon user request"_L1,
    "redacted for gdpr"_L1,
    "redacted | eu gdpr"_L1,
};
constexpr QLatin1StringView PlaceholderFragments[] = {
    "redacted for privacy"_L1,
    "please query the rdap service of the registrar of record"_L1,
    "data protected, not disclosed"_L1,
    "statutory masking"_L1,
};

constexpr qsizetype ShortestFragment = [] {
    qsizetype shortest = PlaceholderFragments[0].size();
    for (const QLatin1StringView text : PlaceholderFragments)
        shortest = std::min(shortest, text.size());
    return shortest;
}();

// URI schemes a jCard may put before a number or an address.
constexpr std::string_view ValueSchemes[] = {"tel:", "mailto:"};

// The jCard properties a contact is read from, by their names (compared without letter case).
enum class CardProperty
{
    Other,
    Name,
    Organization,
    Email,
    Phone,
    Kind,
    Address,
};
struct CardPropertyName
{
    std::string_view name;
    CardProperty property;
};
constexpr CardPropertyName CardProperties[] = {
    {"fn", CardProperty::Name},     {"org", CardProperty::Organization},
    {"email", CardProperty::Email}, {"tel", CardProperty::Phone},
    {"kind", CardProperty::Kind},   {"adr", CardProperty::Address},
};
constexpr std::size_t LongestCardProperty = [] {
    std::size_t longest = 0;
    for (const CardPropertyName &name : CardProperties)
        longest = std::max(longest, name.name.size());
    return longest;
}();

CardProperty cardPropertyOf(std::string_view name)
{
    for (const CardPropertyName &known : CardProperties) {
        if (name == known.name)
            return known.property;
    }
    return CardProperty::Other;
}

// Nested entities are followed this deep (an abuse contact sits inside the registrar's or the
// organisation's entity); deeper ones are not looked at.
constexpr int MaxEntityDepth = 8;

// ---- Reading values ----------------------------------------------------------------------

// The value with white space trimmed and runs of it made one space; the same string when it
// needs no change, which is the common case.
QString clean(const QString &value)
{
    bool lastSpace = true;
    for (const QChar c : value) {
        const bool space = c.isSpace();
        if (space && (lastSpace || c != u' '))
            return value.simplified();
        lastSpace = space;
    }
    return lastSpace && !value.isEmpty() ? value.simplified() : value;
}

QString textMember(const RdapValue &object, QLatin1StringView member)
{
    return object[member].toSimplifiedString();
}

// ASCII letters in lower case: the case-insensitive comparisons below without Qt's Unicode
// folding, which gives the same answer for ASCII text.
std::string_view asciiLower(QStringView text, QVarLengthArray<char, 128> &buffer)
{
    buffer.resize(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        buffer[i] = char(c >= u'A' && c <= u'Z' ? c + 32 : c);
    }
    return std::string_view(buffer.data(), std::size_t(buffer.size()));
}

std::string_view view(QLatin1StringView text)
{
    return std::string_view(text.data(), std::size_t(text.size()));
}

// One bit for each length a whole placeholder value has: most values have none of them.
constexpr std::uint64_t PlaceholderLengths = [] {
    std::uint64_t lengths = 0;
    for (const QLatin1StringView text : PlaceholderValues) {
        if (text.size() >= 64)
            throw "a placeholder too long for the mask";
        lengths |= std::uint64_t(1) << text.size();
    }
    return lengths;
}();

bool isPlaceholder(const QString &value)
{
    // Equal texts have equal lengths, and a fragment is no longer than what holds it (as Qt
    // compares them too, one UTF-16 unit against one).
    const qsizetype size = value.size();
    const bool wholeLength = size < 64 && ((PlaceholderLengths >> size) & 1u) != 0;
    if (!wholeLength && size < ShortestFragment)
        return false;
    if (QtPrivate::isAscii(value)) {
        if (wholeLength) {
            for (const QLatin1StringView placeholder : PlaceholderValues) {
                if (size == placeholder.size() && startsWithCaseless(value, view(placeholder)))
                    return true;
            }
        }
        if (size < ShortestFragment)
            return false;
        QVarLengthArray<char, 128> lowered;
        const std::string_view text = asciiLower(value, lowered);
        for (const QLatin1StringView fragment : PlaceholderFragments) {
            if (text.size() >= std::size_t(fragment.size()) &&
                text.find(view(fragment)) != std::string_view::npos)
                return true;
        }
        return false;
    }
    for (const QLatin1StringView text : PlaceholderValues) {
        if (value.size() == text.size() && value.compare(text, Qt::CaseInsensitive) == 0)
            return true;
    }
    for (const QLatin1StringView text : PlaceholderFragments) {
        if (value.size() >= text.size() && value.contains(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString firstOf(const QString &a, const QString &b)
{
    return a.isEmpty() ? b : a;
}

std::optional<qint64> integerOf(const RdapValue &value)
{
    if (value.isNumber()) {
        // A number beyond 2^53 is no count an answer means; converting one past qint64 would
        // be undefined.
        const double number = value.toDouble();
        if (number >= -9007199254740992.0 && number <= 9007199254740992.0)
            return qint64(number);
        return std::nullopt;
    }
    bool ok = false;
    const qint64 number = value.toString().trimmed().toLongLong(&ok);
    return ok ? std::optional(number) : std::nullopt;
}

std::optional<qint64> integerMember(const RdapValue &object, QLatin1StringView member)
{
    return integerOf(object[member]);
}

// The date of the event with this action in an "events" array.
RdapDate eventDateIn(const RdapValue &events, QLatin1StringView action)
{
    for (const RdapValue &value : events) {
        const RdapValue event = value;
        if (event["eventAction"_L1].equals(action, Qt::CaseInsensitive)) {
            RdapDate date;
            date.text = textMember(event, "eventDate"_L1);
            date.utc = utcDateFromText(date.text);
            return date;
        }
    }
    return {};
}

// The EPP statuses of a "status" array.
QStringList statusesIn(const RdapValue &status)
{
    QStringList statuses;
    for (const RdapValue &value : status) {
        const QString epp = eppStatusOfRdap(value.toString());
        if (!epp.isEmpty())
            statuses << epp;
    }
    return statuses;
}

// The names of a "nameservers" array.
QStringList nameServersIn(const RdapValue &nameservers)
{
    QStringList names;
    for (const RdapValue &server : nameservers) {
        const QString name = textMember(server, "ldhName"_L1);
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

// What a "secureDNS" object says of the delegation.
std::optional<bool> delegationSignedIn(const RdapValue &secureDns)
{
    const RdapValue secure = secureDns["delegationSigned"_L1];
    return secure.isBool() ? std::optional(secure.toBool()) : std::nullopt;
}

QString linkHref(const RdapValue &object, QLatin1StringView rel)
{
    for (const RdapValue &value : object["links"_L1]) {
        if (value["rel"_L1].equals(rel))
            return textMember(value, "href"_L1);
    }
    return {};
}

QString ianaId(const RdapValue &registrar)
{
    for (const RdapValue &value : registrar["publicIds"_L1]) {
        const RdapValue id = value;
        if (id["type"_L1].toString().contains(u"IANA", Qt::CaseInsensitive))
            return textMember(id, "identifier"_L1);
    }
    return {};
}

// ---- Entities ----------------------------------------------------------------------------

// An entity and the roles of KnownRoles it has, one bit each.
struct Entity
{
    RdapValue value;
    unsigned roles = 0;
};
using Entities = std::vector<Entity>;

unsigned roleBit(std::string_view role)
{
    for (std::size_t i = 0; i < std::size(KnownRoles); ++i) {
        if (role == view(KnownRoles[i]))
            return 1u << i;
    }
    return 0;
}

// Every entity of an "entities" array, nested ones included, the shallowest first, with its
// roles read once (compared without letter case, trimmed).
Entities entitiesIn(const RdapValue &entitiesArray)
{
    Entities all;
    std::vector<RdapValue> level{entitiesArray};
    for (int depth = 0; depth < MaxEntityDepth && !level.empty(); ++depth) {
        std::vector<RdapValue> next;
        for (const RdapValue &entities : level) {
            for (const RdapValue &value : entities) {
                Entity entity{value};
                for (const RdapValue &role : value["roles"_L1]) {
                    char buffer[LongestRole];
                    entity.roles |= roleBit(role.foldedWord(buffer, true));
                }
                const RdapValue nested = value["entities"_L1];
                if (nested.isArray())
                    next.push_back(nested);
                all.push_back(std::move(entity));
            }
        }
        level = std::move(next);
    }
    return all;
}

// The first entity with a role (one of KnownRoles); missing when none has it.
RdapValue findEntity(const Entities &entities, QLatin1StringView role)
{
    const unsigned bit = roleBit(view(role));
    Q_ASSERT(bit != 0);
    for (const Entity &entity : entities) {
        if (entity.roles & bit)
            return entity.value;
    }
    return {};
}

QString textOf(const RdapValue &value)
{
    if (!value.isArray())
        return value.toSimplifiedString();
    // The parts that are not empty, joined by ", ".
    QString joined;
    for (const RdapValue &part : value) {
        const QString text = part.toSimplifiedString();
        if (text.isEmpty())
            continue;
        if (joined.isEmpty())
            joined = text;
        else
            joined += QLatin1StringView(", ") + text;
    }
    return joined;
}

QString withoutScheme(QString value)
{
    // The schemes' letters have no case forms beyond ASCII: an ASCII comparison is Qt's.
    for (const std::string_view scheme : ValueSchemes) {
        if (startsWithCaseless(value, scheme))
            return clean(value.remove(0, qsizetype(scheme.size())));
    }
    return value;
}

bool hasType(const RdapValue &parameters, QLatin1StringView type)
{
    const RdapValue types = parameters["type"_L1];
    if (types.isString())
        return types.equals(type, Qt::CaseInsensitive);
    for (const RdapValue &value : types) {
        if (value.equals(type, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// The first elements of an array, as many as `into` holds (missing past its end).
template <std::size_t N> void elementsOf(const RdapValue &array, std::array<RdapValue, N> &into)
{
    std::size_t i = 0;
    for (const RdapValue &element : array) {
        if (i == N)
            break;
        into[i++] = element;
    }
}

// The contact an entity's jCard gives ("vcardArray": ["vcard", [[name, parameters, type,
// value], ...]]).
RdapContact readContact(const RdapValue &entity)
{
    RdapContact contact;
    contact.handle = textMember(entity, "handle"_L1);
    // The value is made only for a part still open; a placeholder leaves the part open for a
    // later property of its kind.
    const auto set = [&contact](Part part, const auto &valueOf) {
        QString &slot = contact.parts[part];
        if (!slot.isEmpty())
            return;
        QString value = valueOf();
        if (!value.isEmpty() && !isPlaceholder(value))
            slot = std::move(value);
    };
    const RdapValue properties = entity["vcardArray"_L1].at(1);
    for (const RdapValue &property : properties) {
        // [name, parameters, type, value]
        std::array<RdapValue, 4> item;
        elementsOf(property, item);
        const RdapValue &parameters = item[1];
        const RdapValue &value = item[3];
        char buffer[LongestCardProperty];
        switch (cardPropertyOf(item[0].foldedWord(buffer))) {
        case CardProperty::Other:
            break;
        case CardProperty::Name:
            set(Part::Name, [&] { return value.toSimplifiedString(); });
            break;
        case CardProperty::Organization:
            set(Part::Organization, [&] { return textOf(value); });
            break;
        case CardProperty::Email:
            set(Part::Email, [&] { return withoutScheme(value.toSimplifiedString()); });
            break;
        case CardProperty::Phone:
            set(hasType(parameters, "fax"_L1) ? Part::Fax : Part::Phone,
                [&] { return withoutScheme(value.toSimplifiedString()); });
            break;
        case CardProperty::Kind:
            if (contact.kind.isEmpty())
                contact.kind = value.toSimplifiedString().toLower();
            break;
        case CardProperty::Address: {
            // [post office box, extended address, street, locality, region, code, country]
            std::array<RdapValue, 7> adr;
            elementsOf(value, adr);
            set(Part::Street, [&] {
                QStringList streetParts;
                for (int i = 0; i < 3; ++i) {
                    const QString part = textOf(adr[i]);
                    if (!part.isEmpty())
                        streetParts << part;
                }
                const QString street = streetParts.join(QStringLiteral(", "));
                return street.isEmpty() ? textOf(parameters["label"_L1]) : street;
            });
            set(Part::City, [&] { return textOf(adr[3]); });
            set(Part::Region, [&] { return textOf(adr[4]); });
            set(Part::PostalCode, [&] { return textOf(adr[5]); });
            const QString code = textOf(parameters["cc"_L1]);
            set(Part::Country, [&] { return textOf(adr[6]); });
            set(Part::Country, [&] { return code; });
            if (contact.countryCode.isEmpty() && !isPlaceholder(code))
                contact.countryCode = code;
            break;
        }
        }
    }
    return contact;
}

// ---- Redaction ----------------------------------------------------------------------------

// The contact parts an answer marks as redacted (RFC 9537), per domain role; a path that names
// no role hides the part for every role.
struct Redactions
{
    static constexpr int AnyRole = RdapDomain::RoleCount;
    QSet<int> hidden; // role * PartCount + part

    void add(int role, Part part) { hidden.insert(role * int(Part::PartCount) + int(part)); }
    bool hides(int role, Part part) const
    {
        return !hidden.isEmpty() && (hidden.contains(role * int(Part::PartCount) + int(part)) ||
                                     hidden.contains(AnyRole * int(Part::PartCount) + int(part)));
    }
};

int roleIndex(QStringView role)
{
    for (int i = 0; i < RdapDomain::RoleCount; ++i) {
        if (role.compare(DomainRoles[i].role, Qt::CaseInsensitive) == 0)
            return i;
    }
    return role.isEmpty() ? Redactions::AnyRole : -1;
}

// The parts a JSONPath of a redaction names, such as
// $.entities[?(@.roles[0]=='registrant')].vcardArray[1][?(@[0]=='adr')][3][3]
void addPathRedactions(const QString &path, Redactions &redactions)
{
    static const QRegularExpression roleExpression(
        QStringLiteral("roles[^'\"]*['\"]([a-z]+)['\"]"));
    static const QRegularExpression propertyExpression(
        QStringLiteral("@\\[0\\]\\s*==\\s*['\"]([a-zA-Z]+)['\"]\\)\\](\\[3\\]\\[(\\d)\\])?"));
    const QRegularExpressionMatch property = propertyExpression.match(path);
    if (!property.hasMatch())
        return;
    const int role = roleIndex(roleExpression.match(path).captured(1));
    if (role < 0)
        return;
    const QString name = property.captured(1).toLower();
    QList<Part> parts;
    if (name == u"fn")
        parts = {Part::Name};
    else if (name == u"org")
        parts = {Part::Organization};
    else if (name == u"email")
        parts = {Part::Email};
    else if (name == u"tel")
        parts = path.contains(u"fax") ? QList<Part>{Part::Fax} : QList<Part>{Part::Phone};
    else if (name == u"adr" && !property.captured(3).isEmpty()) {
        constexpr Part adrParts[] = {Part::Street, Part::Street,     Part::Street, Part::City,
                                     Part::Region, Part::PostalCode, Part::Country};
        const int index = property.captured(3).toInt();
        if (index < 7)
            parts = {adrParts[index]};
    } else if (name == u"adr")
        parts = {Part::Street, Part::City, Part::Region, Part::PostalCode, Part::Country};
    for (const Part part : parts)
        redactions.add(role, part);
}

// The redactions of a "redacted" array.
Redactions redactionsIn(const RdapValue &redacted)
{
    Redactions redactions;
    for (const RdapValue &value : redacted) {
        const RdapValue item = value;
        for (const QLatin1StringView member : {"prePath"_L1, "postPath"_L1, "replacementPath"_L1})
            addPathRedactions(item[member].toString(), redactions);
        const QString name = item["name"_L1]["type"_L1].toString();
        for (int role = 0; role < RdapDomain::RoleCount; ++role) {
            const QStringView start = DomainRoles[role].redactionPrefix;
            if (!name.startsWith(start + u' '))
                continue;
            const QStringView rest = QStringView(name).mid(start.size() + 1);
            for (const RedactionName &suffix : RedactionSuffixes) {
                if (rest.compare(suffix.suffix, Qt::CaseInsensitive) == 0)
                    redactions.add(role, suffix.part);
            }
        }
    }
    return redactions;
}

// The contact of a domain role, less what the answer marks as redacted.
RdapContact roleContact(const Entities &entities, int role, const Redactions &redactions)
{
    RdapContact contact = readContact(findEntity(entities, DomainRoles[role].role));
    for (int part = 0; part < Part::PartCount; ++part) {
        if (redactions.hides(role, Part(part)))
            contact.parts[part].clear();
    }
    if (contact.parts[Part::Country].isEmpty())
        contact.countryCode.clear();
    return contact;
}

// A domain's abuse contact: the registrar's, else any the answer gives.
RdapContact abuseContact(const Entities &entities, const RdapValue &registrar)
{
    RdapValue abuse = findEntity(entitiesIn(registrar["entities"_L1]), "abuse"_L1);
    if (abuse.isEmptyObject())
        abuse = findEntity(entities, "abuse"_L1);
    return readContact(abuse);
}

// The registrar's name: its card's name, else its organisation.
QString registrarName(const RdapContact &registrar)
{
    return firstOf(registrar[Part::Name], registrar[Part::Organization]);
}

// ---- Objects -------------------------------------------------------------------------------

// The members a domain is read from, taken in one walk over its names: the registry's answer
// and the registrar's each.
namespace DomainMember {
enum : std::size_t
{
    LdhName,
    UnicodeName,
    Handle,
    Port43,
    Entities,
    Events,
    Status,
    Redacted,
    Nameservers,
    SecureDns,
    Count
};
} // namespace DomainMember
constexpr QLatin1StringView DomainMembers[DomainMember::Count] = {
    "ldhName"_L1, "unicodeName"_L1, "handle"_L1,   "port43"_L1,      "entities"_L1,
    "events"_L1,  "status"_L1,      "redacted"_L1, "nameservers"_L1, "secureDNS"_L1,
};

void readDomain(const RdapValue &registry, const RdapValue &registrarAnswer, RdapDomain &d)
{
    std::array<RdapValue, DomainMember::Count> m;
    registry.members(DomainMembers, m);
    std::array<RdapValue, DomainMember::Count> own;
    registrarAnswer.members(DomainMembers, own);

    const Entities registryEntities = entitiesIn(m[DomainMember::Entities]);
    const Entities registrarEntities = entitiesIn(own[DomainMember::Entities]);
    const RdapValue registrar = findEntity(registryEntities, "registrar"_L1);
    const RdapValue registrarOwn = findEntity(registrarEntities, "registrar"_L1);

    d.ldhName = m[DomainMember::LdhName].toSimplifiedString();
    d.unicodeName = m[DomainMember::UnicodeName].toSimplifiedString();
    d.handle = m[DomainMember::Handle].toSimplifiedString();
    d.registrarWhoisServer =
        firstOf(textMember(registrar, "port43"_L1), own[DomainMember::Port43].toSimplifiedString());
    d.registrarUrl = firstOf(linkHref(registrar, "about"_L1), linkHref(registrarOwn, "about"_L1));

    const auto filled = [](const RdapDate &mine, const RdapDate &theirs) {
        return mine.text.isEmpty() ? theirs : mine;
    };
    d.created = filled(eventDateIn(m[DomainMember::Events], "registration"_L1),
                       eventDateIn(own[DomainMember::Events], "registration"_L1));
    d.updated = filled(eventDateIn(m[DomainMember::Events], "last changed"_L1),
                       eventDateIn(own[DomainMember::Events], "last changed"_L1));
    d.expires = eventDateIn(m[DomainMember::Events], "expiration"_L1);
    d.registrarExpires = eventDateIn(own[DomainMember::Events], "expiration"_L1);

    d.registrar =
        firstOf(registrarName(readContact(registrar)), registrarName(readContact(registrarOwn)));
    d.registrarIanaId = firstOf(ianaId(registrar), ianaId(registrarOwn));
    const RdapContact abuse = abuseContact(registryEntities, registrar);
    const RdapContact abuseOwn = abuseContact(registrarEntities, registrarOwn);
    d.abuseEmail = firstOf(abuse[Part::Email], abuseOwn[Part::Email]);
    d.abusePhone = firstOf(abuse[Part::Phone], abuseOwn[Part::Phone]);

    d.statuses = statusesIn(m[DomainMember::Status]);
    if (d.statuses.isEmpty())
        d.statuses = statusesIn(own[DomainMember::Status]);

    const Redactions redactions = redactionsIn(m[DomainMember::Redacted]);
    const Redactions registrarRedactions = redactionsIn(own[DomainMember::Redacted]);
    for (int role = 0; role < RdapDomain::RoleCount; ++role) {
        d.contacts[role] = roleContact(registrarEntities, role, registrarRedactions);
        if (d.contacts[role].isEmpty())
            d.contacts[role] = roleContact(registryEntities, role, redactions);
    }

    d.nameServers = nameServersIn(m[DomainMember::Nameservers]);
    if (d.nameServers.isEmpty())
        d.nameServers = nameServersIn(own[DomainMember::Nameservers]);
    d.delegationSigned = delegationSignedIn(m[DomainMember::SecureDns]);
    if (!d.delegationSigned)
        d.delegationSigned = delegationSignedIn(own[DomainMember::SecureDns]);
}

// The members a network or AS number is read from, taken in one walk over its names.
namespace NetworkMember {
enum : std::size_t
{
    StartAddress,
    EndAddress,
    Cidrs,
    StartAutnum,
    EndAutnum,
    Name,
    Handle,
    ParentHandle,
    Type,
    Country,
    Entities,
    Events,
    Status,
    Count
};
} // namespace NetworkMember
constexpr QLatin1StringView NetworkMembers[NetworkMember::Count] = {
    "startAddress"_L1, "endAddress"_L1, "cidr0_cidrs"_L1,  "startAutnum"_L1, "endAutnum"_L1,
    "name"_L1,         "handle"_L1,     "parentHandle"_L1, "type"_L1,        "country"_L1,
    "entities"_L1,     "events"_L1,     "status"_L1,
};

void readNetwork(const RdapValue &object, RdapNetwork &n)
{
    std::array<RdapValue, NetworkMember::Count> m;
    object.members(NetworkMembers, m);
    n.startAddress = m[NetworkMember::StartAddress].toSimplifiedString();
    n.endAddress = m[NetworkMember::EndAddress].toSimplifiedString();
    for (const RdapValue &value : m[NetworkMember::Cidrs]) {
        const RdapValue cidr = value;
        const QString prefix =
            firstOf(textMember(cidr, "v4prefix"_L1), textMember(cidr, "v6prefix"_L1));
        const std::optional<qint64> length = integerMember(cidr, "length"_L1);
        if (!prefix.isEmpty() && length)
            n.cidrs << prefix + u'/' + QString::number(*length);
    }
    if (n.cidrs.isEmpty())
        n.cidrs = coveringPrefixes(n.startAddress, n.endAddress);
    n.startAutnum = integerOf(m[NetworkMember::StartAutnum]);
    n.endAutnum = integerOf(m[NetworkMember::EndAutnum]);
    n.name = m[NetworkMember::Name].toSimplifiedString();
    n.handle = m[NetworkMember::Handle].toSimplifiedString();
    n.parentHandle = m[NetworkMember::ParentHandle].toSimplifiedString();
    n.type = m[NetworkMember::Type].toSimplifiedString();
    n.country = m[NetworkMember::Country].toSimplifiedString();
    const Entities entities = entitiesIn(m[NetworkMember::Entities]);
    n.holder = readContact(findEntity(entities, "registrant"_L1));
    n.registered = eventDateIn(m[NetworkMember::Events], "registration"_L1);
    n.updated = eventDateIn(m[NetworkMember::Events], "last changed"_L1);
    const RdapContact abuse = readContact(findEntity(entities, "abuse"_L1));
    n.abuseEmail = abuse[Part::Email];
    n.abusePhone = abuse[Part::Phone];
    n.statuses = statusesIn(m[NetworkMember::Status]);
}

// eppStatusOfRdap for ASCII text, whose white space and letter case need no Unicode tables: the
// same words, cut at the same spaces, with the same letters raised and lowered.
QString eppStatusOfAscii(QStringView status)
{
    QVarLengthArray<char, 64> epp;
    QVarLengthArray<char, 64> lowered;
    const auto isSpace = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    qsizetype i = 0;
    while (i < status.size()) {
        while (i < status.size() && isSpace(status[i].unicode()))
            ++i;
        const qsizetype start = i;
        bool hasLower = false;
        while (i < status.size() && !isSpace(status[i].unicode())) {
            hasLower = hasLower || (status[i] >= u'a' && status[i] <= u'z');
            ++i;
        }
        if (i == start)
            break;
        const bool first = epp.isEmpty();
        for (qsizetype j = start; j < i; ++j) {
            char c = char(status[j].unicode());
            if (j == start)
                c = first ? char(std::tolower(c)) : char(std::toupper(c));
            else if (!hasLower)
                c = char(std::tolower(c));
            epp.append(c);
            lowered.append(char(std::tolower((unsigned char)status[j].unicode())));
        }
        lowered.append(' ');
    }
    if (!lowered.isEmpty())
        lowered.removeLast();
    const QLatin1StringView words(lowered.data(), lowered.size());
    for (const StatusName &name : StatusExceptions) {
        if (words == name.rdap)
            return name.epp.toString();
    }
    return QString::fromLatin1(epp.data(), epp.size());
}

} // namespace

bool RdapContact::isEmpty() const
{
    return std::all_of(parts.begin(), parts.end(), [](const QString &p) { return p.isEmpty(); });
}

QString RdapContact::organization() const
{
    if (!parts[Part::Organization].isEmpty() || kind != u"org")
        return parts[Part::Organization];
    return parts[Part::Name];
}

QString RdapContact::organizationOrName() const
{
    return firstOf(parts[Part::Organization], parts[Part::Name]);
}

QString rdapObjectClassName(RdapObjectKind kind)
{
    for (const KindName &name : KindNames) {
        if (name.kind == kind)
            return name.className.toString();
    }
    return {};
}

RdapObjectKind rdapClassKind(const RdapValue &className)
{
    // The class names are ASCII words: the value folded once, then compared with each.
    char buffer[16];
    const std::string_view word = className.foldedWord(buffer, true);
    for (const KindName &name : KindNames) {
        if (word == view(name.className))
            return name.kind;
    }
    return RdapObjectKind::Unknown;
}

namespace {

RdapObjectKind objectKind(const RdapValue &object, const RdapValue &className, RdapObjectKind asked)
{
    if (className.isString())
        return rdapClassKind(className);
    if (asked != RdapObjectKind::Unknown)
        return asked;
    for (const KindMember &member : KindMembers) {
        if (object.contains(member.member))
            return member.kind;
    }
    return RdapObjectKind::Unknown;
}

} // namespace

RdapObjectKind rdapObjectKind(const RdapValue &object, RdapObjectKind asked)
{
    return objectKind(object, object["objectClassName"_L1], asked);
}

RdapReading readRdap(const RdapValue &registry, const RdapValue &registrar, RdapObjectKind asked)
{
    RdapReading reading;
    reading.empty = registry.isEmptyObject();
    static constexpr QLatin1StringView names[] = {"errorCode"_L1, "objectClassName"_L1};
    std::array<RdapValue, 2> m;
    registry.members(names, m);
    if (!m[0].isMissing()) {
        reading.error = true;
        reading.errorCode = int(integerOf(m[0]).value_or(0));
        return reading;
    }
    reading.kind = objectKind(registry, m[1], asked);
    switch (reading.kind) {
    case RdapObjectKind::Domain:
        readDomain(registry, registrar, reading.domain);
        break;
    case RdapObjectKind::IpNetwork:
    case RdapObjectKind::Autnum:
        readNetwork(registry, reading.network);
        break;
    case RdapObjectKind::Unknown:
        break;
    }
    return reading;
}

QString eppStatusOfRdap(QStringView status)
{
    if (QtPrivate::isAscii(status))
        return eppStatusOfAscii(status);
    const QString words = clean(status.toString());
    for (const StatusName &name : StatusExceptions) {
        if (words.compare(name.rdap, Qt::CaseInsensitive) == 0)
            return name.epp.toString();
    }
    // A word in capitals is lowered whole; a word already in camel case ("serverHold", as some
    // registries write the EPP code itself) keeps its inner capitals.
    QString epp;
    for (const QString &word : words.split(u' ', Qt::SkipEmptyParts)) {
        const QString letters = word == word.toUpper() ? word.toLower() : word;
        epp += epp.isEmpty() ? letters.left(1).toLower() : letters.left(1).toUpper();
        epp += QStringView(letters).mid(1);
    }
    return epp;
}
