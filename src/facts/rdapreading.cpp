#include "facts/rdapreading.h"

#include "facts/iprange.h"
#include "facts/whoisdate.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <iterator>

namespace {

using Part = RdapContact::Part;

// ---- What the outside world calls things -------------------------------------------------

struct KindName
{
    RdapObjectKind kind;
    QStringView className;
};
constexpr KindName KindNames[] = {
    {RdapObjectKind::Domain, u"domain"},
    {RdapObjectKind::IpNetwork, u"ip network"},
    {RdapObjectKind::Autnum, u"autnum"},
};

// The members that tell an object's kind when it does not name its class, in the order they
// are tried.
struct KindMember
{
    QStringView member;
    RdapObjectKind kind;
};
constexpr KindMember KindMembers[] = {
    {u"startAddress", RdapObjectKind::IpNetwork},
    {u"endAddress", RdapObjectKind::IpNetwork},
    {u"startAutnum", RdapObjectKind::Autnum},
    {u"ldhName", RdapObjectKind::Domain},
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
    QStringView role;
    QStringView redactionPrefix;
};
constexpr RoleName DomainRoles[RdapDomain::RoleCount] = {
    {u"registrant", u"Registrant"},
    {u"administrative", u"Admin"},
    {u"technical", u"Tech"},
    {u"billing", u"Billing"},
};

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
constexpr QStringView PlaceholderValues[] = {
    u"redacted",
    u"redacted for privacy",
    u"redacted for privacy purposes",
    u"data redacted",
    u"data protected",
    u"not disclosed",
    u"non-public data",
    u"withheld for privacy",
    u"privacy",
    u"gdpr masked",
    u"statutory masking enabled",
    u"hidden upon user request",
    u"redacted for gdpr",
    u"redacted | eu gdpr",
};
constexpr QStringView PlaceholderFragments[] = {
    u"redacted for privacy",
    u"please query the rdap service of the registrar of record",
    u"data protected, not disclosed",
    u"statutory masking",
};

// URI schemes a jCard may put before a number or an address.
constexpr QStringView ValueSchemes[] = {u"tel:", u"mailto:"};

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

QString textMember(const QJsonObject &object, QStringView member)
{
    return clean(object.value(member).toString());
}

bool isPlaceholder(const QString &value)
{
    for (const QStringView text : PlaceholderValues) {
        if (value.size() == text.size() && value.compare(text, Qt::CaseInsensitive) == 0)
            return true;
    }
    for (const QStringView text : PlaceholderFragments) {
        if (value.size() >= text.size() && value.contains(text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString firstOf(const QString &a, const QString &b)
{
    return a.isEmpty() ? b : a;
}

std::optional<qint64> integerMember(const QJsonObject &object, QStringView member)
{
    const QJsonValue value = object.value(member);
    if (value.isDouble()) {
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

RdapDate eventDate(const QJsonObject &object, QStringView action)
{
    for (const QJsonValue &value : object.value(u"events").toArray()) {
        const QJsonObject event = value.toObject();
        if (event.value(u"eventAction").toString().compare(action, Qt::CaseInsensitive) == 0) {
            RdapDate date;
            date.text = textMember(event, u"eventDate");
            date.utc = utcDateFromText(date.text);
            return date;
        }
    }
    return {};
}

QStringList statusesOf(const QJsonObject &object)
{
    QStringList statuses;
    for (const QJsonValue &value : object.value(u"status").toArray()) {
        const QString epp = eppStatusOfRdap(value.toString());
        if (!epp.isEmpty())
            statuses << epp;
    }
    return statuses;
}

QStringList nameServersOf(const QJsonObject &domain)
{
    QStringList names;
    for (const QJsonValue &server : domain.value(u"nameservers").toArray()) {
        const QString name = textMember(server.toObject(), u"ldhName");
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

std::optional<bool> delegationSignedOf(const QJsonObject &domain)
{
    const QJsonValue secure = domain.value(u"secureDNS").toObject().value(u"delegationSigned");
    return secure.isBool() ? std::optional(secure.toBool()) : std::nullopt;
}

QString linkHref(const QJsonObject &object, QStringView rel)
{
    for (const QJsonValue &value : object.value(u"links").toArray()) {
        if (value.toObject().value(u"rel").toString() == rel)
            return textMember(value.toObject(), u"href");
    }
    return {};
}

QString ianaId(const QJsonObject &registrar)
{
    for (const QJsonValue &value : registrar.value(u"publicIds").toArray()) {
        const QJsonObject id = value.toObject();
        if (id.value(u"type").toString().contains(u"IANA", Qt::CaseInsensitive))
            return textMember(id, u"identifier");
    }
    return {};
}

// ---- Entities ----------------------------------------------------------------------------

bool hasRole(const QJsonObject &entity, QStringView role)
{
    for (const QJsonValue &value : entity.value(u"roles").toArray()) {
        if (value.toString().trimmed().compare(role, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Every entity of an object, nested ones included, the shallowest first.
QList<QJsonObject> entitiesOf(const QJsonObject &object)
{
    QList<QJsonObject> all;
    QList<QJsonArray> level{object.value(u"entities").toArray()};
    for (int depth = 0; depth < MaxEntityDepth && !level.isEmpty(); ++depth) {
        QList<QJsonArray> next;
        for (const QJsonArray &entities : level) {
            for (const QJsonValue &value : entities) {
                all << value.toObject();
                const QJsonValue nested = all.last().value(u"entities");
                if (nested.isArray())
                    next << nested.toArray();
            }
        }
        level = std::move(next);
    }
    return all;
}

QJsonObject findEntity(const QList<QJsonObject> &entities, QStringView role)
{
    for (const QJsonObject &entity : entities) {
        if (hasRole(entity, role))
            return entity;
    }
    return {};
}

QString textOf(const QJsonValue &value)
{
    if (value.isArray()) {
        QStringList parts;
        for (const QJsonValue &part : value.toArray()) {
            const QString text = clean(part.toString());
            if (!text.isEmpty())
                parts << text;
        }
        return parts.join(QStringLiteral(", "));
    }
    return clean(value.toString());
}

QString withoutScheme(const QString &value)
{
    for (const QStringView scheme : ValueSchemes) {
        if (value.startsWith(scheme, Qt::CaseInsensitive))
            return clean(value.mid(scheme.size()));
    }
    return value;
}

bool hasType(const QJsonObject &parameters, QStringView type)
{
    const QJsonValue types = parameters.value(u"type");
    if (types.isString())
        return types.toString().compare(type, Qt::CaseInsensitive) == 0;
    for (const QJsonValue &value : types.toArray()) {
        if (value.toString().compare(type, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The contact an entity's jCard gives ("vcardArray": ["vcard", [[name, parameters, type,
// value], ...]]).
RdapContact readContact(const QJsonObject &entity)
{
    RdapContact contact;
    contact.handle = textMember(entity, u"handle");
    auto set = [&contact](Part part, const QString &value) {
        // A placeholder leaves the part open for a later property of its kind.
        QString &slot = contact.parts[part];
        if (slot.isEmpty() && !isPlaceholder(value))
            slot = value;
    };
    const QJsonArray properties = entity.value(u"vcardArray").toArray().at(1).toArray();
    for (const QJsonValue &item : properties) {
        const QJsonArray property = item.toArray();
        const QString name = property.at(0).toString();
        const QJsonObject parameters = property.at(1).toObject();
        const QJsonValue value = property.at(3);
        if (name.compare(u"fn", Qt::CaseInsensitive) == 0) {
            set(Part::Name, clean(value.toString()));
        } else if (name.compare(u"org", Qt::CaseInsensitive) == 0) {
            set(Part::Organization, textOf(value));
        } else if (name.compare(u"email", Qt::CaseInsensitive) == 0) {
            set(Part::Email, withoutScheme(clean(value.toString())));
        } else if (name.compare(u"tel", Qt::CaseInsensitive) == 0) {
            set(hasType(parameters, u"fax") ? Part::Fax : Part::Phone,
                withoutScheme(clean(value.toString())));
        } else if (name.compare(u"kind", Qt::CaseInsensitive) == 0) {
            if (contact.kind.isEmpty())
                contact.kind = clean(value.toString()).toLower();
        } else if (name.compare(u"adr", Qt::CaseInsensitive) == 0) {
            // [post office box, extended address, street, locality, region, code, country]
            const QJsonArray adr = value.toArray();
            QStringList streetParts;
            for (int i = 0; i < 3; ++i) {
                const QString part = textOf(adr.at(i));
                if (!part.isEmpty())
                    streetParts << part;
            }
            const QString street = streetParts.join(QStringLiteral(", "));
            set(Part::Street, street.isEmpty() ? textOf(parameters.value(u"label")) : street);
            set(Part::City, textOf(adr.at(3)));
            set(Part::Region, textOf(adr.at(4)));
            set(Part::PostalCode, textOf(adr.at(5)));
            const QString code = textOf(parameters.value(u"cc"));
            set(Part::Country, textOf(adr.at(6)));
            set(Part::Country, code);
            if (contact.countryCode.isEmpty() && !isPlaceholder(code))
                contact.countryCode = code;
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

Redactions readRedactions(const QJsonObject &object)
{
    Redactions redactions;
    for (const QJsonValue &value : object.value(u"redacted").toArray()) {
        const QJsonObject item = value.toObject();
        for (const char16_t *member : {u"prePath", u"postPath", u"replacementPath"})
            addPathRedactions(item.value(QStringView(member)).toString(), redactions);
        const QString name = item.value(u"name").toObject().value(u"type").toString();
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
RdapContact roleContact(const QList<QJsonObject> &entities, int role, const Redactions &redactions)
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
RdapContact abuseContact(const QList<QJsonObject> &entities, const QJsonObject &registrar)
{
    QJsonObject abuse = findEntity(entitiesOf(registrar), u"abuse");
    if (abuse.isEmpty())
        abuse = findEntity(entities, u"abuse");
    return readContact(abuse);
}

// The registrar's name: its card's name, else its organisation.
QString registrarName(const RdapContact &registrar)
{
    return firstOf(registrar[Part::Name], registrar[Part::Organization]);
}

// ---- Objects -------------------------------------------------------------------------------

void readDomain(const QJsonObject &registry, const QJsonObject &registrarAnswer, RdapDomain &d)
{
    const QList<QJsonObject> registryEntities = entitiesOf(registry);
    const QList<QJsonObject> registrarEntities = entitiesOf(registrarAnswer);
    const QJsonObject registrar = findEntity(registryEntities, u"registrar");
    const QJsonObject registrarOwn = findEntity(registrarEntities, u"registrar");

    d.ldhName = textMember(registry, u"ldhName");
    d.unicodeName = textMember(registry, u"unicodeName");
    d.handle = textMember(registry, u"handle");
    d.registrarWhoisServer =
        firstOf(textMember(registrar, u"port43"), textMember(registrarAnswer, u"port43"));
    d.registrarUrl = firstOf(linkHref(registrar, u"about"), linkHref(registrarOwn, u"about"));

    const auto filled = [](const RdapDate &mine, const RdapDate &theirs) {
        return mine.text.isEmpty() ? theirs : mine;
    };
    d.created =
        filled(eventDate(registry, u"registration"), eventDate(registrarAnswer, u"registration"));
    d.updated =
        filled(eventDate(registry, u"last changed"), eventDate(registrarAnswer, u"last changed"));
    d.expires = eventDate(registry, u"expiration");
    d.registrarExpires = eventDate(registrarAnswer, u"expiration");

    d.registrar =
        firstOf(registrarName(readContact(registrar)), registrarName(readContact(registrarOwn)));
    d.registrarIanaId = firstOf(ianaId(registrar), ianaId(registrarOwn));
    const RdapContact abuse = abuseContact(registryEntities, registrar);
    const RdapContact abuseOwn = abuseContact(registrarEntities, registrarOwn);
    d.abuseEmail = firstOf(abuse[Part::Email], abuseOwn[Part::Email]);
    d.abusePhone = firstOf(abuse[Part::Phone], abuseOwn[Part::Phone]);

    d.statuses = statusesOf(registry);
    if (d.statuses.isEmpty())
        d.statuses = statusesOf(registrarAnswer);

    const Redactions redactions = readRedactions(registry);
    const Redactions registrarRedactions = readRedactions(registrarAnswer);
    for (int role = 0; role < RdapDomain::RoleCount; ++role) {
        d.contacts[role] = roleContact(registrarEntities, role, registrarRedactions);
        if (d.contacts[role].isEmpty())
            d.contacts[role] = roleContact(registryEntities, role, redactions);
    }

    d.nameServers = nameServersOf(registry);
    if (d.nameServers.isEmpty())
        d.nameServers = nameServersOf(registrarAnswer);
    d.delegationSigned = delegationSignedOf(registry);
    if (!d.delegationSigned)
        d.delegationSigned = delegationSignedOf(registrarAnswer);
}

void readNetwork(const QJsonObject &object, RdapNetwork &n)
{
    n.startAddress = textMember(object, u"startAddress");
    n.endAddress = textMember(object, u"endAddress");
    for (const QJsonValue &value : object.value(u"cidr0_cidrs").toArray()) {
        const QJsonObject cidr = value.toObject();
        const QString prefix =
            firstOf(textMember(cidr, u"v4prefix"), textMember(cidr, u"v6prefix"));
        const std::optional<qint64> length = integerMember(cidr, u"length");
        if (!prefix.isEmpty() && length)
            n.cidrs << prefix + u'/' + QString::number(*length);
    }
    if (n.cidrs.isEmpty())
        n.cidrs = coveringPrefixes(n.startAddress, n.endAddress);
    n.startAutnum = integerMember(object, u"startAutnum");
    n.endAutnum = integerMember(object, u"endAutnum");
    n.name = textMember(object, u"name");
    n.handle = textMember(object, u"handle");
    n.parentHandle = textMember(object, u"parentHandle");
    n.type = textMember(object, u"type");
    n.country = textMember(object, u"country");
    const QList<QJsonObject> entities = entitiesOf(object);
    n.holder = readContact(findEntity(entities, u"registrant"));
    n.registered = eventDate(object, u"registration");
    n.updated = eventDate(object, u"last changed");
    const RdapContact abuse = readContact(findEntity(entities, u"abuse"));
    n.abuseEmail = abuse[Part::Email];
    n.abusePhone = abuse[Part::Phone];
    n.statuses = statusesOf(object);
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

RdapObjectKind rdapObjectKind(const QJsonObject &object, RdapObjectKind asked)
{
    const QJsonValue className = object.value(u"objectClassName");
    if (className.isString()) {
        for (const KindName &name : KindNames) {
            if (className.toString().trimmed().compare(name.className, Qt::CaseInsensitive) == 0)
                return name.kind;
        }
        return RdapObjectKind::Unknown;
    }
    if (asked != RdapObjectKind::Unknown)
        return asked;
    for (const KindMember &member : KindMembers) {
        if (object.contains(member.member))
            return member.kind;
    }
    return RdapObjectKind::Unknown;
}

RdapReading readRdap(const QJsonObject &registry, const QJsonObject &registrar,
                     RdapObjectKind asked)
{
    RdapReading reading;
    reading.empty = registry.isEmpty();
    if (registry.contains(u"errorCode")) {
        reading.error = true;
        reading.errorCode = int(integerMember(registry, u"errorCode").value_or(0));
        return reading;
    }
    reading.kind = rdapObjectKind(registry, asked);
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
