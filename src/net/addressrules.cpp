#include "net/addressrules.h"

#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace AddressRules {

namespace {

struct Range
{
    const char *network;
    int length;
    const char *kind;
};

// One table for both families; addresses that carry an IPv4 address are checked as IPv4.
constexpr std::array ranges{
    Range{"0.0.0.0", 8, "unspecified"},
    Range{"10.0.0.0", 8, "private"},
    Range{"100.64.0.0", 10, "shared (carrier-grade NAT)"},
    Range{"127.0.0.0", 8, "loopback"},
    Range{"169.254.0.0", 16, "link-local"},
    Range{"172.16.0.0", 12, "private"},
    Range{"192.0.0.0", 24, "reserved for protocol assignments"},
    Range{"192.168.0.0", 16, "private"},
    Range{"198.18.0.0", 15, "reserved for benchmarking"},
    Range{"224.0.0.0", 4, "multicast"},
    Range{"240.0.0.0", 4, "reserved"},
    Range{"::", 128, "unspecified"},
    Range{"::1", 128, "loopback"},
    // NAT64 prefixes a network picks for itself: what they lead to is the local translator's
    // business, so nothing public can be told from the address.
    Range{"64:ff9b:1::", 48, "local-use NAT64"},
    Range{"fc00::", 7, "unique local"},
    Range{"fe80::", 10, "link-local"},
    Range{"fec0::", 10, "site-local"},
    Range{"ff00::", 8, "multicast"},
};

quint32 ipv4At(const IpAddress::V6Bytes &bytes, int offset)
{
    return quint32(bytes[offset]) << 24 | quint32(bytes[offset + 1]) << 16 |
           quint32(bytes[offset + 2]) << 8 | quint32(bytes[offset + 3]);
}

bool startsWith(const IpAddress::V6Bytes &bytes, std::initializer_list<quint8> prefix)
{
    int i = 0;
    for (const quint8 byte : prefix) {
        if (bytes[i++] != byte)
            return false;
    }
    return true;
}

// The IPv4 address an IPv6 address leads to, for the forms that carry one.
std::optional<quint32> embeddedIpv4(const IpAddress &address)
{
    if (const std::optional<quint32> mapped = address.mappedV4()) // ::ffff:a.b.c.d
        return mapped;
    if (!address.isV6())
        return std::nullopt;
    const IpAddress::V6Bytes bytes = address.toV6();
    // ::a.b.c.d (IPv4-compatible, deprecated but still routed by some stacks); :: and ::1
    // are in the table.
    if (startsWith(bytes, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) && ipv4At(bytes, 12) > 1)
        return ipv4At(bytes, 12);
    // ::ffff:0:a.b.c.d (IPv4-translated)
    if (startsWith(bytes, {0, 0, 0, 0, 0, 0, 0, 0}) && bytes[8] == 0xff && bytes[9] == 0xff &&
        bytes[10] == 0 && bytes[11] == 0)
        return ipv4At(bytes, 12);
    // 64:ff9b::a.b.c.d (NAT64's well-known prefix)
    if (startsWith(bytes, {0x00, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0}))
        return ipv4At(bytes, 12);
    // 2002:AABB:CCDD::/48 (6to4)
    if (startsWith(bytes, {0x20, 0x02}))
        return ipv4At(bytes, 2);
    // 2001:0::/32 (Teredo): the client's address, its bits inverted, in the last 32 bits
    if (startsWith(bytes, {0x20, 0x01, 0x00, 0x00}))
        return ~ipv4At(bytes, 12);
    return std::nullopt;
}

QString kindInTable(const IpAddress &address)
{
    static const std::vector<IpAddress> networks = [] {
        std::vector<IpAddress> parsed;
        for (const Range &range : ranges)
            parsed.push_back(IpAddress::fromString(QString::fromLatin1(range.network)));
        return parsed;
    }();
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (address.isInSubnet(networks[i], ranges[i].length))
            return QLatin1String(ranges[i].kind);
    }
    return {};
}

} // namespace

QString nonPublicKind(const IpAddress &address)
{
    if (address.isNull())
        return QStringLiteral("unspecified");
    if (const std::optional<quint32> v4 = embeddedIpv4(address))
        return kindInTable(IpAddress(*v4));
    return kindInTable(address);
}

} // namespace AddressRules
