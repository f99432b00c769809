#include "rdap/rdapbootstrap.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A prefix of the 128-bit address space; IPv4 prefixes sit in the top 32 bits.
struct PrefixKey
{
    std::uint64_t hi = 0;
    std::uint64_t lo = 0;
    int length = 0;
    bool operator==(const PrefixKey &) const = default;
};

struct PrefixHash
{
    size_t operator()(const PrefixKey &key) const noexcept
    {
        std::uint64_t h = key.hi * 0x9E3779B97F4A7C15ULL;
        h ^= key.lo + 0x632BE59BD9B4E019ULL + (h << 6) + (h >> 2);
        return size_t(h ^ std::uint64_t(key.length) * 0xFF51AFD7ED558CCDULL);
    }
};

struct NameHash
{
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept
    {
        return std::hash<std::string_view>{}(text);
    }
};

PrefixKey masked(std::uint64_t hi, std::uint64_t lo, int length)
{
    if (length <= 0)
        return {0, 0, 0};
    if (length <= 64)
        return {length == 64 ? hi : hi & ~(~std::uint64_t(0) >> length), 0, length};
    return {hi, length == 128 ? lo : lo & ~(~std::uint64_t(0) >> (length - 64)), length};
}

PrefixKey addressBits(const IpAddress &address)
{
    if (address.isV4())
        return {std::uint64_t(address.toV4()) << 32, 0, 32};
    const IpAddress::V6Bytes bytes = address.toV6();
    PrefixKey key{0, 0, 128};
    for (int i = 0; i < 8; ++i) {
        key.hi = key.hi << 8 | bytes[i];
        key.lo = key.lo << 8 | bytes[i + 8];
    }
    return key;
}

struct AsRange
{
    quint32 first;
    quint32 last;
    int service;
};

bool isNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

std::string lowerName(std::string_view name)
{
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    std::string lower(name);
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return lower;
}

// The base URLs of one service: http(s) only, https first, each ending in '/'.
QStringList serviceUrls(const QJsonArray &urls)
{
    QStringList https;
    QStringList http;
    for (const QJsonValue &value : urls) {
        const QUrl url(value.toString(), QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty())
            continue;
        QString text = url.toString();
        if (!text.endsWith(u'/'))
            text += u'/';
        const QString scheme = url.scheme().toLower();
        if (scheme == u"https")
            https << text;
        else if (scheme == u"http")
            http << text;
    }
    return https + http;
}

} // namespace

struct RdapBootstrap::Table
{
    QDateTime publication;
    QString version;
    std::vector<QStringList> services;
    std::unordered_map<std::string, int, NameHash, std::equal_to<>> names;
    std::unordered_map<PrefixKey, int, PrefixHash> prefixes;
    std::vector<int> prefixLengths; // longest first
    std::vector<AsRange> ranges;    // by first number, not overlapping
};

// Adds one entry of a service to the table; false when the entry is not of the registry's form.
bool RdapBootstrap::addEntry(RdapRegistry registry, Table &table, const QString &entry, int service)
{
    switch (registry) {
    case RdapRegistry::Dns: {
        const std::string name = lowerName(entry.toStdString());
        if (!std::all_of(name.begin(), name.end(), isNameCharacter))
            return false;
        table.names.emplace(name, service);
        return true;
    }
    case RdapRegistry::Ipv4:
    case RdapRegistry::Ipv6: {
        const auto [network, length] = IpAddress::parseSubnet(entry);
        const auto family =
            registry == RdapRegistry::Ipv4 ? IpAddress::Family::V4 : IpAddress::Family::V6;
        if (network.family() != family || length < 0)
            return false;
        const PrefixKey bits = addressBits(network);
        table.prefixes.emplace(masked(bits.hi, bits.lo, length), service);
        table.prefixLengths.push_back(length);
        return true;
    }
    case RdapRegistry::Asn: {
        const qsizetype dash = entry.indexOf(u'-');
        bool firstOk = false;
        bool lastOk = false;
        const QString firstText = dash < 0 ? entry : entry.left(dash);
        const QString lastText = dash < 0 ? entry : entry.mid(dash + 1);
        const quint32 first = firstText.toUInt(&firstOk);
        const quint32 last = lastText.toUInt(&lastOk);
        if (!firstOk || !lastOk || first > last || firstText.startsWith(u'+') ||
            lastText.startsWith(u'+'))
            return false;
        table.ranges.push_back({first, last, service});
        return true;
    }
    }
    return false;
}

namespace {

bool fail(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    return false;
}

} // namespace

bool RdapBootstrap::load(RdapRegistry registry, const QByteArray &json, QString *reason)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return fail(reason, QStringLiteral("not JSON: ") + error.errorString());
    if (!document.isObject())
        return fail(reason, QStringLiteral("not a JSON object"));
    const QJsonObject root = document.object();

    auto table = std::make_shared<Table>();
    table->publication =
        QDateTime::fromString(root.value(u"publication").toString(), Qt::ISODateWithMs);
    if (!table->publication.isValid())
        return fail(reason, QStringLiteral("no valid \"publication\" date"));
    table->publication = table->publication.toUTC();
    if (!root.value(u"version").isString())
        return fail(reason, QStringLiteral("no \"version\""));
    table->version = root.value(u"version").toString();
    if (!root.value(u"services").isArray())
        return fail(reason, QStringLiteral("no \"services\" array"));

    const QJsonArray services = root.value(u"services").toArray();
    for (qsizetype i = 0; i < services.size(); ++i) {
        const QJsonArray service = services.at(i).toArray();
        const QString where = QStringLiteral("service ") + QString::number(i + 1);
        if (service.size() != 2 || !service.at(0).isArray() || !service.at(1).isArray())
            return fail(reason, where + QStringLiteral(" is not a pair of arrays"));
        const QStringList urls = serviceUrls(service.at(1).toArray());
        if (urls.isEmpty())
            return fail(reason, where + QStringLiteral(" has no http(s) URL"));
        const int index = int(table->services.size());
        table->services.push_back(urls);
        for (const QJsonValue &entry : service.at(0).toArray()) {
            if (!entry.isString() || !addEntry(registry, *table, entry.toString(), index))
                return fail(reason, where + QStringLiteral(" has an unreadable entry: ") +
                                        entry.toVariant().toString());
        }
    }

    auto &lengths = table->prefixLengths;
    std::sort(lengths.begin(), lengths.end(), std::greater<>());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    auto &ranges = table->ranges;
    std::sort(ranges.begin(), ranges.end(),
              [](const AsRange &a, const AsRange &b) { return a.first < b.first; });
    for (size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].first <= ranges[i - 1].last)
            return fail(reason, QStringLiteral("overlapping AS number ranges at ") +
                                    QString::number(ranges[i].first));
    }

    m_tables[size_t(registry)] = std::move(table);
    return true;
}

const RdapBootstrap::Table *RdapBootstrap::table(RdapRegistry registry) const
{
    return m_tables[size_t(registry)].get();
}

bool RdapBootstrap::isLoaded(RdapRegistry registry) const
{
    return table(registry) != nullptr;
}

QDateTime RdapBootstrap::publication(RdapRegistry registry) const
{
    return table(registry) ? table(registry)->publication : QDateTime();
}

QString RdapBootstrap::version(RdapRegistry registry) const
{
    return table(registry) ? table(registry)->version : QString();
}

QStringList RdapBootstrap::domainServices(std::string_view name) const
{
    const Table *dns = table(RdapRegistry::Dns);
    if (!dns)
        return {};
    const std::string lower = lowerName(name);
    const std::string_view text(lower);
    // From the whole name down to its last label, then the root: the first hit is the longest.
    for (size_t start = 0;;) {
        const auto found = dns->names.find(text.substr(start));
        if (found != dns->names.end())
            return dns->services[size_t(found->second)];
        const size_t dot = text.find('.', start);
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    const auto root = dns->names.find(std::string_view());
    return root != dns->names.end() ? dns->services[size_t(root->second)] : QStringList();
}

QStringList RdapBootstrap::domainServices(const QString &name) const
{
    for (const QChar c : name) {
        if (c.unicode() > 0x7F)
            return {};
    }
    return domainServices(std::string_view(name.toLatin1().toStdString()));
}

QStringList RdapBootstrap::addressServices(const IpAddress &address, int prefixLength) const
{
    const bool v4 = address.isV4();
    if (!v4 && !address.isV6())
        return {};
    const Table *prefixes = table(v4 ? RdapRegistry::Ipv4 : RdapRegistry::Ipv6);
    const int width = v4 ? 32 : 128;
    if (!prefixes || prefixLength > width)
        return {};
    const int length = prefixLength < 0 ? width : prefixLength;
    const PrefixKey bits = addressBits(address);
    for (const int candidate : prefixes->prefixLengths) {
        if (candidate > length)
            continue;
        const auto found = prefixes->prefixes.find(masked(bits.hi, bits.lo, candidate));
        if (found != prefixes->prefixes.end())
            return prefixes->services[size_t(found->second)];
    }
    return {};
}

QStringList RdapBootstrap::asnServices(quint32 asNumber) const
{
    const Table *asn = table(RdapRegistry::Asn);
    if (!asn)
        return {};
    auto after = std::upper_bound(asn->ranges.begin(), asn->ranges.end(), asNumber,
                                  [](quint32 n, const AsRange &range) { return n < range.first; });
    if (after == asn->ranges.begin())
        return {};
    const AsRange &range = *std::prev(after);
    return asNumber <= range.last ? asn->services[size_t(range.service)] : QStringList();
}

QString RdapBootstrap::fileName(RdapRegistry registry)
{
    switch (registry) {
    case RdapRegistry::Dns:
        return QStringLiteral("dns.json");
    case RdapRegistry::Ipv4:
        return QStringLiteral("ipv4.json");
    case RdapRegistry::Ipv6:
        return QStringLiteral("ipv6.json");
    case RdapRegistry::Asn:
        return QStringLiteral("asn.json");
    }
    return {};
}
