#include "lookup/query.h"

#include <QList>

#include <idn2.h>

#include <algorithm>
#include <optional>

namespace {

constexpr int MaxDomainLength = 253;
constexpr int MaxLabelLength = 63;

Query invalid(const QString &text, const QString &reason)
{
    Query query;
    query.text = text;
    query.reason = reason;
    return query;
}

// Characters that could end the query line, add a second one or hide in it; none is ever part
// of a name, an address or an AS number.
QString unsafeCharacterReason(const QString &text)
{
    for (const QChar c : text) {
        if (c == u'\r' || c == u'\n')
            return QStringLiteral("contains a line break");
        if (c == u'\t' || c == u' ' || c.isSpace())
            return QStringLiteral("contains white space");
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Other_NotAssigned || category == QChar::Other_Surrogate)
            return QStringLiteral("contains a control character (U+%1)")
                .arg(c.unicode(), 4, 16, QLatin1Char('0'))
                .toUpper();
    }
    return {};
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// One to three decimal digits without a leading zero ("0" itself is one): its value.
std::optional<uint> shortDecimal(QStringView text)
{
    if (text.isEmpty() || text.size() > 3 || (text.size() > 1 && text.front() == u'0'))
        return std::nullopt;
    uint value = 0;
    for (const QChar c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// Four decimal parts 0-255 without leading zeros: other spellings (octal, hexadecimal, fewer
// parts) mean different addresses to different programs, so they are refused.
bool parseDottedQuad(const QString &text, IpAddress *address)
{
    quint32 value = 0;
    QStringView rest(text);
    for (int i = 0; i < 4; ++i) {
        const qsizetype dot = i < 3 ? rest.indexOf(u'.') : rest.size();
        if (dot < 0)
            return false;
        const std::optional<uint> part = shortDecimal(rest.first(dot));
        if (!part || *part > 255)
            return false;
        value = value << 8 | *part;
        rest = rest.sliced(std::min(dot + 1, rest.size()));
        if (i < 3 && rest.isEmpty())
            return false;
    }
    *address = IpAddress(value);
    return true;
}

bool parseIPv6(const QString &text, IpAddress *address)
{
    if (!text.contains(u':') || text.contains(u'%'))
        return false;
    const IpAddress parsed = IpAddress::fromString(text);
    if (!parsed.isV6())
        return false;
    *address = parsed;
    return true;
}

Query parseNetwork(const QString &text)
{
    const qsizetype slash = text.indexOf(u'/');
    const QString addressPart = text.left(slash);
    const QString lengthPart = text.mid(slash + 1);
    IpAddress address;
    int maxLength = 32;
    if (!parseDottedQuad(addressPart, &address)) {
        if (!parseIPv6(addressPart, &address))
            return invalid(text, QStringLiteral("not a network: the part before '/' is not an "
                                                "IPv4 or IPv6 address"));
        maxLength = 128;
    }
    const std::optional<uint> length = shortDecimal(lengthPart);
    if (!length || *length > uint(maxLength))
        return invalid(
            text,
            QStringLiteral("not a network: the prefix length must be 0 to %1").arg(maxLength));
    Query query;
    query.kind = QueryKind::Cidr;
    query.text = text;
    query.address = address;
    query.prefixLength = lengthPart.toInt();
    query.ascii = address.toString().toLatin1() + '/' + QByteArray::number(query.prefixLength);
    return query;
}

Query parseAsNumber(const QString &text)
{
    bool ok = false;
    const qulonglong number = QStringView(text).mid(2).toULongLong(&ok, 10);
    if (!ok || text.size() > 12 || number > 0xffffffffULL)
        return invalid(text, QStringLiteral("not an AS number: AS followed by 0 to 4294967295"));
    Query query;
    query.kind = QueryKind::AsNumber;
    query.text = text;
    query.asNumber = quint32(number);
    query.ascii = QByteArray::number(query.asNumber);
    return query;
}

bool isLdhLabel(QByteArrayView label)
{
    if (label.isEmpty() || label.size() > MaxLabelLength)
        return false;
    if (label.front() == '-' || label.back() == '-')
        return false;
    for (const char c : label) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    }
    return true;
}

// A name of plain ASCII labels (letters, digits, inner hyphens; none longer than 63, none with
// "--" in its third and fourth places, as A-labels have) is its own lookup form, in lower
// case: IDNA has nothing to map or check in it, and asking libidn2 cost a tenth of a port-43
// lookup. Anything else goes to libidn2.
bool plainLdhName(QStringView name, QByteArray &ascii)
{
    ascii.resize(name.size());
    char *out = ascii.data();
    qsizetype labelStart = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        const char16_t c = i < name.size() ? name[i].unicode() : u'.';
        if (c == u'.') {
            const qsizetype length = i - labelStart;
            if (length == 0 || length > MaxLabelLength || name[labelStart] == u'-' ||
                name[i - 1] == u'-' ||
                (length >= 4 && name[labelStart + 2] == u'-' && name[labelStart + 3] == u'-'))
                return false;
            labelStart = i + 1;
        } else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     (c >= 'A' && c <= 'Z'))) {
            return false;
        }
        if (i < name.size())
            *out++ = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return true;
}

Query parseDomain(const QString &text)
{
    QString name = text;
    if (name.endsWith(u'.'))
        name.chop(1);
    if (name.isEmpty() || name.startsWith(u'.') || name.contains(QStringLiteral("..")))
        return invalid(text, QStringLiteral("not a domain name: empty label"));

    QByteArray result;
    if (!plainLdhName(name, result)) {
        // IDNA 2008 with the UTS 46 mapping: upper case, full-width forms and the like are
        // mapped first, so "BÜCHER.de" and "bücher.de" ask the same name.
        char *ascii = nullptr;
        const QByteArray utf8 = name.toUtf8();
        const int rc = idn2_lookup_u8(reinterpret_cast<const uint8_t *>(utf8.constData()),
                                      reinterpret_cast<uint8_t **>(&ascii),
                                      IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
        if (rc != IDN2_OK)
            return invalid(
                text,
                QStringLiteral("not a domain name: %1").arg(QString::fromUtf8(idn2_strerror(rc))));
        result = QByteArray(ascii);
        idn2_free(ascii);
        result = result.toLower();
    }

    if (result.size() > MaxDomainLength)
        return invalid(
            text,
            QStringLiteral("not a domain name: longer than %1 characters").arg(MaxDomainLength));
    // Each label in place (every lookup's address comes here, some twice).
    QByteArrayView top;
    for (qsizetype start = 0; start <= result.size();) {
        qsizetype end = result.indexOf('.', start);
        if (end < 0)
            end = result.size();
        const QByteArrayView label = QByteArrayView(result).sliced(start, end - start);
        if (!isLdhLabel(label))
            return invalid(text, QStringLiteral("not a domain name: the label \"%1\" is not "
                                                "letters, digits and inner hyphens")
                                     .arg(QString::fromLatin1(label)));
        top = label;
        start = end + 1;
    }
    if (std::all_of(top.begin(), top.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return invalid(text, QStringLiteral("not a domain name, an IP address or an AS number"));

    Query query;
    query.kind = QueryKind::Domain;
    query.text = text;
    query.ascii = result;
    return query;
}

} // namespace

QByteArray Query::tld() const
{
    if (kind != QueryKind::Domain)
        return {};
    return ascii.mid(ascii.lastIndexOf('.') + 1);
}

Query parseQuery(const QString &address)
{
    if (address.isEmpty())
        return invalid(address, QStringLiteral("empty address"));
    const QString unsafe = unsafeCharacterReason(address);
    if (!unsafe.isEmpty())
        return invalid(address, unsafe);
    if (address.startsWith(u'-'))
        return invalid(address, QStringLiteral("begins with '-'"));

    if (address.contains(u'/'))
        return parseNetwork(address);

    IpAddress ip;
    if (parseDottedQuad(address, &ip)) {
        Query query;
        query.kind = QueryKind::IPv4;
        query.text = address;
        query.address = ip;
        query.ascii = ip.toString().toLatin1();
        return query;
    }
    if (address.contains(u':')) {
        if (!parseIPv6(address, &ip))
            return invalid(address, QStringLiteral("not an IPv6 address"));
        Query query;
        query.kind = QueryKind::IPv6;
        query.text = address;
        query.address = ip;
        query.ascii = ip.toString().toLatin1();
        return query;
    }
    // "AS" in either case, then digits.
    if (address.size() > 2 && (address[0] == u'A' || address[0] == u'a') &&
        (address[1] == u'S' || address[1] == u's') &&
        std::all_of(address.cbegin() + 2, address.cend(), isDigit))
        return parseAsNumber(address);
    return parseDomain(address);
}
