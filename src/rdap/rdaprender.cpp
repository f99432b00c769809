#include "rdap/rdaprender.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <iterator>

namespace {

// ---- What the outside world calls things -------------------------------------------------

// The parts of a contact, in the order its lines appear.
enum class Part
{
    Name,
    Organization,
    Street,
    City,
    Region,
    PostalCode,
    Country,
    Phone,
    Fax,
    Email
};

struct PartName
{
    Part part;
    QStringView caption; // after the role's prefix: "Registrant Name"
};

constexpr PartName PartNames[] = {
    {Part::Name, u"Name"},
    {Part::Organization, u"Organization"},
    {Part::Street, u"Street"},
    {Part::City, u"City"},
    {Part::Region, u"State/Province"},
    {Part::PostalCode, u"Postal Code"},
    {Part::Country, u"Country"},
    {Part::Phone, u"Phone"},
    {Part::Fax, u"Fax"},
    {Part::Email, u"Email"},
};
constexpr int PartCount = int(std::size(PartNames));

// The domain contacts shown, with the prefix of their lines.
struct RoleName
{
    QStringView role;
    QStringView prefix;
};
constexpr RoleName DomainContacts[] = {
    {u"registrant", u"Registrant"},
    {u"administrative", u"Admin"},
    {u"technical", u"Tech"},
    {u"billing", u"Billing"},
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

// The registered names of redacted fields ("Registrant Email") whose contact part they hide.
constexpr PartName RedactionSuffixes[] = {
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
constexpr RoleName RedactionPrefixes[] = {
    {u"registrant", u"Registrant"},
    {u"administrative", u"Admin"},
    {u"technical", u"Tech"},
    {u"billing", u"Billing"},
};

// RDAP status values whose port-43 (EPP) name is not simply their words run together.
struct StatusName
{
    QStringView rdap;
    QStringView epp;
};
constexpr StatusName StatusExceptions[] = {
    {u"active", u"ok"},
};

// ---- Reading the answer ------------------------------------------------------------------

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

class Lines
{
public:
    void add(QStringView name, const QString &value)
    {
        const QString text = clean(value);
        if (!text.isEmpty())
            m_lines << name.toString() + QStringLiteral(": ") + text;
    }
    QStringList take() { return std::move(m_lines); }

private:
    QStringList m_lines;
};

QString utcDate(const QString &text)
{
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        return text;
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

QString eventDate(const QJsonObject &object, QStringView action)
{
    for (const QJsonValue &event : object.value(u"events").toArray()) {
        if (event.toObject().value(u"eventAction").toString() == action)
            return utcDate(event.toObject().value(u"eventDate").toString());
    }
    return {};
}

bool hasRole(const QJsonObject &entity, QStringView role)
{
    for (const QJsonValue &value : entity.value(u"roles").toArray()) {
        if (value.toString() == role)
            return true;
    }
    return false;
}

// Every entity of an object, nested ones included (an abuse contact is often inside the
// registrar's or the organisation's entity), the shallowest first.
QList<QJsonObject> entitiesOf(const QJsonObject &object)
{
    QList<QJsonObject> all;
    QList<QJsonArray> level{object.value(u"entities").toArray()};
    for (int depth = 0; depth < 8 && !level.isEmpty(); ++depth) {
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

QJsonObject findEntity(const QJsonObject &object, QStringView role)
{
    return findEntity(entitiesOf(object), role);
}

QString textOf(const QJsonValue &value)
{
    if (value.isArray()) {
        QStringList parts;
        for (const QJsonValue &part : value.toArray()) {
            if (!clean(part.toString()).isEmpty())
                parts << clean(part.toString());
        }
        return parts.join(QStringLiteral(", "));
    }
    return value.toString();
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

struct Contact
{
    QString handle;
    QString parts[PartCount];
    bool isEmpty() const
    {
        return std::all_of(std::begin(parts), std::end(parts),
                           [](const QString &part) { return clean(part).isEmpty(); });
    }
};

// The parts of a contact its jCard gives ("vcardArray": ["vcard", [[name, parameters, type,
// value], ...]]); the first of each kind counts.
Contact readContact(const QJsonObject &entity)
{
    Contact contact;
    contact.handle = entity.value(u"handle").toString();
    auto set = [&contact](Part part, const QString &value) {
        // A placeholder leaves the part open for a later property of its kind.
        QString &slot = contact.parts[int(part)];
        if (slot.isEmpty() && !isPlaceholder(clean(value)))
            slot = clean(value);
    };
    const QJsonArray properties = entity.value(u"vcardArray").toArray().at(1).toArray();
    for (const QJsonValue &item : properties) {
        const QJsonArray property = item.toArray();
        const QString name = property.at(0).toString();
        const QJsonObject parameters = property.at(1).toObject();
        const QJsonValue value = property.at(3);
        if (name.compare(u"fn", Qt::CaseInsensitive) == 0) {
            set(Part::Name, value.toString());
        } else if (name.compare(u"org", Qt::CaseInsensitive) == 0) {
            set(Part::Organization, textOf(value));
        } else if (name.compare(u"email", Qt::CaseInsensitive) == 0) {
            set(Part::Email, value.toString());
        } else if (name.compare(u"tel", Qt::CaseInsensitive) == 0) {
            QString number = value.toString();
            if (number.startsWith(u"tel:", Qt::CaseInsensitive))
                number.remove(0, 4);
            set(hasType(parameters, u"fax") ? Part::Fax : Part::Phone, number);
        } else if (name.compare(u"adr", Qt::CaseInsensitive) == 0) {
            // [post office box, extended address, street, locality, region, code, country]
            const QJsonArray adr = value.toArray();
            QStringList streetParts;
            for (int i = 0; i < 3; ++i) {
                const QString part = clean(textOf(adr.at(i)));
                if (!part.isEmpty())
                    streetParts << part;
            }
            const QString street = streetParts.join(QStringLiteral(", "));
            set(Part::Street, street.isEmpty() ? textOf(parameters.value(u"label")) : street);
            set(Part::City, textOf(adr.at(3)));
            set(Part::Region, textOf(adr.at(4)));
            set(Part::PostalCode, textOf(adr.at(5)));
            set(Part::Country, textOf(adr.at(6)));
            set(Part::Country, parameters.value(u"cc").toString());
        }
    }
    return contact;
}

// ---- Redaction ----------------------------------------------------------------------------

// Contact parts an answer marks as redacted, as "role/part" ("/part" for any role).
using Redactions = QSet<QString>;

QString redactionKey(QStringView role, Part part)
{
    return role.toString() + u'/' + QString::number(int(part));
}

bool isRedacted(const Redactions &redactions, QStringView role, Part part)
{
    return !redactions.isEmpty() && (redactions.contains(redactionKey(role, part)) ||
                                     redactions.contains(redactionKey(u"", part)));
}

// The parts a JSONPath of a redaction names, such as
// $.entities[?(@.roles[0]=='registrant')].vcardArray[1][?(@[0]=='adr')][3][3]
void addPathRedactions(const QString &path, Redactions &redactions)
{
    static const QRegularExpression roleExpression(
        QStringLiteral("roles[^'\"]*['\"]([a-z]+)['\"]"));
    static const QRegularExpression propertyExpression(
        QStringLiteral("@\\[0\\]\\s*==\\s*['\"]([a-zA-Z]+)['\"]\\)\\](\\[3\\]\\[(\\d)\\])?"));
    const QString role = roleExpression.match(path).captured(1);
    const QRegularExpressionMatch property = propertyExpression.match(path);
    if (!property.hasMatch())
        return;
    const QString name = property.captured(1).toLower();
    QList<Part> parts;
    if (name.compare(u"fn", Qt::CaseInsensitive) == 0)
        parts = {Part::Name};
    else if (name.compare(u"org", Qt::CaseInsensitive) == 0)
        parts = {Part::Organization};
    else if (name.compare(u"email", Qt::CaseInsensitive) == 0)
        parts = {Part::Email};
    else if (name.compare(u"tel", Qt::CaseInsensitive) == 0)
        parts = path.contains(u"fax") ? QList<Part>{Part::Fax} : QList<Part>{Part::Phone};
    else if (name == u"adr" && !property.captured(3).isEmpty()) {
        constexpr Part adrParts[] = {Part::Street, Part::Street,     Part::Street, Part::City,
                                     Part::Region, Part::PostalCode, Part::Country};
        const int index = property.captured(3).toInt();
        if (index < 7)
            parts = {adrParts[index]};
    } else if (name.compare(u"adr", Qt::CaseInsensitive) == 0)
        parts = {Part::Street, Part::City, Part::Region, Part::PostalCode, Part::Country};
    for (const Part part : parts)
        redactions.insert(redactionKey(role, part));
}

Redactions readRedactions(const QJsonObject &object)
{
    Redactions redactions;
    for (const QJsonValue &value : object.value(u"redacted").toArray()) {
        const QJsonObject item = value.toObject();
        for (const char16_t *member : {u"prePath", u"postPath", u"replacementPath"})
            addPathRedactions(item.value(QStringView(member)).toString(), redactions);
        const QString name = item.value(u"name").toObject().value(u"type").toString();
        for (const RoleName &prefix : RedactionPrefixes) {
            const QStringView start = prefix.prefix;
            if (!name.startsWith(start + u' '))
                continue;
            const QStringView rest = QStringView(name).mid(start.size() + 1);
            for (const PartName &suffix : RedactionSuffixes) {
                if (rest.compare(suffix.caption, Qt::CaseInsensitive) == 0)
                    redactions.insert(redactionKey(prefix.role, suffix.part));
            }
        }
    }
    return redactions;
}

void addContact(Lines &lines, QStringView prefix, QStringView role, const Contact &contact,
                const Redactions &redactions)
{
    for (const PartName &part : PartNames) {
        if (!isRedacted(redactions, role, part.part))
            lines.add(QString(prefix.toString() + u' ' + part.caption),
                      contact.parts[int(part.part)]);
    }
}

// ---- Domains -------------------------------------------------------------------------------

QString eppStatus(const QString &status)
{
    for (const StatusName &name : StatusExceptions) {
        if (status.compare(QStringView(name.rdap), Qt::CaseInsensitive) == 0)
            return name.epp.toString();
    }
    const QStringList words = clean(status).split(u' ', Qt::SkipEmptyParts);
    QString epp;
    for (const QString &word : words) {
        epp += epp.isEmpty() ? word.toLower() : word.left(1).toUpper() + word.mid(1).toLower();
    }
    return epp;
}

QString linkHref(const QJsonObject &object, QStringView rel)
{
    for (const QJsonValue &value : object.value(u"links").toArray()) {
        if (value.toObject().value(u"rel").toString() == rel)
            return value.toObject().value(u"href").toString();
    }
    return {};
}

QString ianaId(const QJsonObject &registrar)
{
    for (const QJsonValue &value : registrar.value(u"publicIds").toArray()) {
        if (value.toObject().value(u"type").toString() == u"IANA Registrar ID")
            return value.toObject().value(u"identifier").toString();
    }
    return {};
}

QString firstOf(const QString &a, const QString &b)
{
    return clean(a).isEmpty() ? b : a;
}

QStringList renderDomain(const QJsonObject &registry, const QJsonObject &registrarAnswer)
{
    Lines lines;
    const Redactions redactions = readRedactions(registry);
    const Redactions registrarRedactions = readRedactions(registrarAnswer);
    const QList<QJsonObject> registryEntities = entitiesOf(registry);
    const QList<QJsonObject> registrarEntities = entitiesOf(registrarAnswer);
    const QJsonObject registrar = findEntity(registryEntities, u"registrar");
    const QJsonObject registrarFromRegistrar = findEntity(registrarEntities, u"registrar");
    const Contact registrarContact = readContact(registrar);
    const Contact registrarOwn = readContact(registrarFromRegistrar);
    const Contact abuse = readContact(findEntity(registrar, u"abuse"));
    const Contact abuseOwn = readContact(findEntity(registrarFromRegistrar, u"abuse"));

    const QString ldhName = registry.value(u"ldhName").toString();
    const QString unicodeName = registry.value(u"unicodeName").toString();
    lines.add(u"Domain Name", ldhName);
    if (unicodeName.compare(ldhName, Qt::CaseInsensitive) != 0)
        lines.add(u"Internationalized Domain Name", unicodeName);
    lines.add(u"Registry Domain ID", registry.value(u"handle").toString());
    lines.add(u"Registrar WHOIS Server", firstOf(registrar.value(u"port43").toString(),
                                                 registrarAnswer.value(u"port43").toString()));
    lines.add(u"Registrar URL",
              firstOf(linkHref(registrar, u"about"), linkHref(registrarFromRegistrar, u"about")));
    lines.add(u"Updated Date", eventDate(registry, u"last changed"));
    lines.add(u"Creation Date", eventDate(registry, u"registration"));
    const QString registryExpiry = eventDate(registry, u"expiration");
    lines.add(u"Registry Expiry Date", registryExpiry);
    const QString registrarExpiry = eventDate(registrarAnswer, u"expiration");
    if (registrarExpiry != registryExpiry)
        lines.add(u"Registrar Registration Expiration Date", registrarExpiry);
    lines.add(u"Registrar", firstOf(registrarContact.parts[int(Part::Name)],
                                    registrarOwn.parts[int(Part::Name)]));
    lines.add(u"Registrar IANA ID", firstOf(ianaId(registrar), ianaId(registrarFromRegistrar)));
    lines.add(u"Registrar Abuse Contact Email",
              firstOf(abuse.parts[int(Part::Email)], abuseOwn.parts[int(Part::Email)]));
    lines.add(u"Registrar Abuse Contact Phone",
              firstOf(abuse.parts[int(Part::Phone)], abuseOwn.parts[int(Part::Phone)]));
    for (const QJsonValue &status : registry.value(u"status").toArray())
        lines.add(u"Domain Status", eppStatus(status.toString()));

    for (const RoleName &role : DomainContacts) {
        const QJsonObject fromRegistrar = findEntity(registrarEntities, role.role);
        const Contact registrarsContact = readContact(fromRegistrar);
        const bool useRegistrar = !fromRegistrar.isEmpty() && !registrarsContact.isEmpty();
        addContact(lines, role.prefix, role.role,
                   useRegistrar ? registrarsContact
                                : readContact(findEntity(registryEntities, role.role)),
                   useRegistrar ? registrarRedactions : redactions);
    }

    for (const QJsonValue &server : registry.value(u"nameservers").toArray())
        lines.add(u"Name Server", server.toObject().value(u"ldhName").toString());
    const QJsonValue secure = registry.value(u"secureDNS").toObject().value(u"delegationSigned");
    if (secure.isBool())
        lines.add(u"DNSSEC", secure.toBool() ? QStringLiteral("signedDelegation")
                                             : QStringLiteral("unsigned"));
    return lines.take();
}

// ---- Networks and AS numbers ---------------------------------------------------------------

__extension__ typedef unsigned __int128 Bits;

bool toBits(const QString &text, Bits &bits, int &width)
{
    const QHostAddress address(text);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        bits = address.toIPv4Address();
        width = 32;
        return true;
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    bits = 0;
    for (int i = 0; i < 16; ++i)
        bits = bits << 8 | bytes[i];
    width = 128;
    return true;
}

QString fromBits(Bits bits, int width)
{
    if (width == 32)
        return QHostAddress(quint32(bits)).toString();
    Q_IPV6ADDR bytes;
    for (int i = 15; i >= 0; --i, bits >>= 8)
        bytes[i] = quint8(bits & 0xFF);
    return QHostAddress(bytes).toString();
}

// The fewest prefixes that cover an address range exactly.
QStringList rangeCidrs(const QString &startText, const QString &endText)
{
    Bits start = 0;
    Bits end = 0;
    int width = 0;
    int endWidth = 0;
    if (!toBits(startText, start, width) || !toBits(endText, end, endWidth) || width != endWidth ||
        start > end)
        return {};
    // The last address of the block of 2^size addresses that starts at `start`.
    const auto blockEnd = [](Bits first, int size) {
        return size >= 128 ? ~Bits(0) : first | ((Bits(1) << size) - 1);
    };
    QStringList cidrs;
    while (cidrs.size() < 64) {
        // The largest block aligned at `start` that ends by `end`.
        int size = 0;
        while (size < width && ((start >> size) & 1) == 0 && blockEnd(start, size + 1) <= end)
            ++size;
        cidrs << fromBits(start, width) + u'/' + QString::number(width - size);
        const Bits last = blockEnd(start, size);
        if (last >= end)
            break;
        start = last + 1;
    }
    return cidrs;
}

QStringList networkCidrs(const QJsonObject &network)
{
    QStringList cidrs;
    for (const QJsonValue &value : network.value(u"cidr0_cidrs").toArray()) {
        const QJsonObject cidr = value.toObject();
        const QString prefix =
            cidr.value(u"v4prefix").toString() + cidr.value(u"v6prefix").toString();
        if (!prefix.isEmpty() && cidr.value(u"length").isDouble())
            cidrs << prefix + u'/' + QString::number(cidr.value(u"length").toInt());
    }
    if (cidrs.isEmpty())
        cidrs = rangeCidrs(network.value(u"startAddress").toString(),
                           network.value(u"endAddress").toString());
    return cidrs;
}

// "Name (HANDLE)", as the RIRs print an organisation.
QString organization(const QJsonObject &object)
{
    const QList<QJsonObject> entities = entitiesOf(object);
    QJsonObject entity = findEntity(entities, u"registrant");
    if (entity.isEmpty())
        entity = findEntity(entities, u"administrative");
    const Contact contact = readContact(entity);
    QString name = firstOf(contact.parts[int(Part::Organization)], contact.parts[int(Part::Name)]);
    if (clean(name).isEmpty() || isPlaceholder(clean(name)))
        return {};
    return contact.handle.isEmpty() ? name : name + QStringLiteral(" (") + contact.handle + u')';
}

void addRirFooter(Lines &lines, const QJsonObject &object)
{
    lines.add(u"RegDate", eventDate(object, u"registration"));
    lines.add(u"Updated", eventDate(object, u"last changed"));
    const Contact abuse = readContact(findEntity(object, u"abuse"));
    lines.add(u"Abuse Email", abuse.parts[int(Part::Email)]);
    lines.add(u"Abuse Phone", abuse.parts[int(Part::Phone)]);
}

QStringList renderNetwork(const QJsonObject &network)
{
    Lines lines;
    const QString start = network.value(u"startAddress").toString();
    const QString end = network.value(u"endAddress").toString();
    if (!start.isEmpty() && !end.isEmpty())
        lines.add(u"NetRange", start + QStringLiteral(" - ") + end);
    lines.add(u"CIDR", networkCidrs(network).join(QStringLiteral(", ")));
    lines.add(u"NetName", network.value(u"name").toString());
    lines.add(u"NetHandle", network.value(u"handle").toString());
    lines.add(u"Parent", network.value(u"parentHandle").toString());
    lines.add(u"NetType", network.value(u"type").toString());
    lines.add(u"Country", network.value(u"country").toString());
    lines.add(u"Organization", organization(network));
    addRirFooter(lines, network);
    return lines.take();
}

QStringList renderAutnum(const QJsonObject &autnum)
{
    Lines lines;
    const QJsonValue start = autnum.value(u"startAutnum");
    const QJsonValue end = autnum.value(u"endAutnum");
    if (start.isDouble()) {
        const QString first = QString::number(qint64(start.toDouble()));
        const QString last = end.isDouble() ? QString::number(qint64(end.toDouble())) : first;
        lines.add(u"ASNumber", first == last ? first : first + QStringLiteral(" - ") + last);
    }
    lines.add(u"ASName", autnum.value(u"name").toString());
    lines.add(u"ASHandle", autnum.value(u"handle").toString());
    lines.add(u"ASType", autnum.value(u"type").toString());
    lines.add(u"Country", autnum.value(u"country").toString());
    lines.add(u"Organization", organization(autnum));
    addRirFooter(lines, autnum);
    return lines.take();
}

} // namespace

QStringList RenderRdap(const QJsonObject &object)
{
    const QString objectClass = object.value(u"objectClassName").toString();
    if (objectClass == u"domain")
        return renderDomain(object, QJsonObject());
    if (objectClass == u"ip network")
        return renderNetwork(object);
    if (objectClass == u"autnum")
        return renderAutnum(object);
    return {};
}

QStringList RenderRdapDomain(const QJsonObject &registry, const QJsonObject &registrar)
{
    return renderDomain(registry, registrar);
}
