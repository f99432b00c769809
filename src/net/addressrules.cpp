#include "net/addressrules.h"

#include <array>
#include <utility>

namespace AddressRules {

namespace {

struct Range
{
    const char *network;
    int length;
    const char *kind;
};

// One table for both families; IPv4-mapped IPv6 addresses are checked as IPv4.
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
    Range{"fc00::", 7, "unique local"},
    Range{"fe80::", 10, "link-local"},
    Range{"fec0::", 10, "site-local"},
    Range{"ff00::", 8, "multicast"},
};

} // namespace

QString nonPublicKind(const QHostAddress &address)
{
    if (address.isNull())
        return QStringLiteral("unspecified");
    QHostAddress checked = address;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4); // also unwraps ::ffff:a.b.c.d
    if (isV4)
        checked = QHostAddress(v4);
    for (const Range &range : ranges) {
        const std::pair<QHostAddress, int> subnet{QHostAddress(QLatin1String(range.network)),
                                                  range.length};
        if (subnet.first.protocol() == checked.protocol() && checked.isInSubnet(subnet))
            return QLatin1String(range.kind);
    }
    return {};
}

} // namespace AddressRules
