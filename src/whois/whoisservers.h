#pragma once

#include "lookup/query.h"

#include <QByteArray>
#include <QString>

// How each port-43 server wants to be asked. Servers not in the table get the plain ASCII
// form: the name, the address, the network, or "AS" and the number.
namespace WhoisServers {

// Where every chain starts unless the user names a first server.
QString iana();
constexpr quint16 DefaultPort = 43;

// The query line (without CR LF) for this server and question. Never contains a line break.
QByteArray queryFor(const QString &server, const Query &query);

// What IANA is asked for a question: the top-level domain for a name (IANA answers per TLD,
// so the answer serves every name under it), the address or network for IP questions, the
// number for AS numbers.
QByteArray ianaQueryFor(const Query &query);

} // namespace WhoisServers
