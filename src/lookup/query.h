#pragma once

#include "net/ipaddress.h"

#include <QByteArray>
#include <QString>

// What one address asks, decided before any server is contacted. Shared by every source that
// talks to registries (port 43, RDAP), so it knows nothing of how a server wants the question.
enum class QueryKind
{
    Invalid,
    Domain,
    IPv4,
    IPv6,
    Cidr, // an IPv4 or IPv6 network: address/prefix length
    AsNumber
};

struct Query
{
    QueryKind kind = QueryKind::Invalid;
    // The address exactly as given.
    QString text;
    // The ASCII form: a domain's lower-case A-label name without trailing dot, an address in
    // its canonical text, a network as "address/length", an AS number as its decimal digits.
    // Only letters, digits and . - : / ever appear in it.
    QByteArray ascii;
    // IPv4, IPv6, Cidr: the address (for a network, as written).
    IpAddress address;
    // Cidr: the prefix length.
    int prefixLength = -1;
    // AsNumber: the number.
    quint32 asNumber = 0;
    // Invalid: why.
    QString reason;

    bool isValid() const { return kind != QueryKind::Invalid; }
    // Domain: the last label ("com" for "example.com"); empty for the other kinds.
    QByteArray tld() const;
};

Query parseQuery(const QString &address);
