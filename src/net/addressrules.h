#pragma once

#include "net/ipaddress.h"

#include <QString>

// Addresses a referral read from a server's answer must not lead to: anything that is not a
// public unicast address (private networks, loopback, link-local, multicast, unspecified,
// carrier-grade NAT, unique local IPv6). An IPv6 address that carries an IPv4 address inside
// it (IPv4-mapped and IPv4-compatible, NAT64's 64:ff9b::/96, 6to4, Teredo) is judged by the
// IPv4 address it leads to. An answer is untrusted text; following it to such an address would
// let a server make the program probe the user's own network.
namespace AddressRules {

// Empty when the address is public; otherwise what it is ("private", "loopback", ...).
QString nonPublicKind(const IpAddress &address);
inline bool isNonPublic(const IpAddress &address)
{
    return !nonPublicKind(address).isEmpty();
}

} // namespace AddressRules
