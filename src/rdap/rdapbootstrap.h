#pragma once

#include "net/ipaddress.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <string_view>

// The four RDAP bootstrap registries IANA publishes, one file each.
enum class RdapRegistry
{
    Dns,
    Ipv4,
    Ipv6,
    Asn
};
inline constexpr std::array<RdapRegistry, 4> AllRdapRegistries = {
    RdapRegistry::Dns, RdapRegistry::Ipv4, RdapRegistry::Ipv6, RdapRegistry::Asn};

// Which RDAP services answer for a domain name, an address or network, or an AS number, read
// from the bootstrap files ("dns.json", "ipv4.json", "ipv6.json", "asn.json"). Each look-up
// picks the most specific entry: the longest label suffix of a name, the longest prefix holding
// an address or network, the range holding an AS number. A look-up returns the service's base
// URLs, https ones first, each ending in '/'; an empty list when no entry covers the query.
class RdapBootstrap
{
public:
    // Reads one bootstrap file into the registry's table. A file that is not what the registry
    // publishes (not JSON, no "services" array, an entry of the wrong shape, an unreadable
    // prefix or range, no usable URL, no valid "publication" date) is rejected: false, the
    // reason in `reason`, and the registry's previous table kept.
    bool load(RdapRegistry registry, const QByteArray &json, QString *reason = nullptr);

    bool isLoaded(RdapRegistry registry) const;
    QDateTime publication(RdapRegistry registry) const;
    QString version(RdapRegistry registry) const;

    // `name` is an ASCII (A-label) domain name, in any letter case, with or without the final
    // dot.
    QStringList domainServices(std::string_view name) const;
    QStringList domainServices(const QString &name) const;
    // An address, or a network when `prefixLength` is given (0..32 or 0..128).
    QStringList addressServices(const IpAddress &address, int prefixLength = -1) const;
    QStringList asnServices(quint32 asNumber) const;

    // The file name IANA publishes the registry under.
    static QString fileName(RdapRegistry registry);

private:
    struct Table;
    const Table *table(RdapRegistry registry) const;
    static bool addEntry(RdapRegistry registry, Table &table, const QString &entry, int service);
    // Each registry's table is shared between copies and replaced whole on a load.
    std::array<std::shared_ptr<const Table>, 4> m_tables;
};
