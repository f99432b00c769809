#pragma once

#include "net/ipaddress.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <utility>

// The media type RDAP answers carry, asked for in every request's Accept header.
inline constexpr char RdapMediaType[] = "application/rdap+json";

// The request URLs of the three RDAP look-ups on a service's base URL (a missing final '/' is
// added): "domain/<name>", "ip/<address>" or "ip/<network>/<length>", "autnum/<number>". An
// empty URL when the base is not an http(s) URL or the query is not of its form: a name must be
// ASCII (its A-label form) with labels of 1 to 63 letters, digits, '-' or '_'.
QUrl RdapDomainUrl(const QString &baseUrl, const QString &asciiName);
// With a prefix length, the address's host bits are cleared: the query names the network.
QUrl RdapAddressUrl(const QString &baseUrl, const IpAddress &address, int prefixLength = -1);
QUrl RdapAutnumUrl(const QString &baseUrl, quint32 asNumber);

// The request headers of an RDAP query.
QList<std::pair<QByteArray, QByteArray>> RdapRequestHeaders();
