#pragma once

#include <QHostAddress>
#include <QString>

// Addresses a referral read from a server's answer must not lead to: anything that is not a
// public unicast address (private networks, loopback, link-local, multicast, unspecified,
// carrier-grade NAT, unique local IPv6), also when written as an IPv4-mapped IPv6 address. An
// answer is untrusted text; following it to such an address would let a server make the
// program probe the user's own network.
namespace AddressRules {

// Empty when the address is public; otherwise what it is ("private", "loopback", ...).
QString nonPublicKind(const QHostAddress &address);
inline bool isNonPublic(const QHostAddress &address)
{
    return !nonPublicKind(address).isEmpty();
}

} // namespace AddressRules
