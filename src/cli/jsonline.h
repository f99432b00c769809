#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

struct LookupResult;

// One lookup as one line of JSON: "address", "source", "error" (when the lookup failed),
// "servers" (list), "fields" (list of [name, value], in record order, every value of a
// repeated name kept) and the record's facts under their keys (factColumns(): "status",
// "registrar", "expires", "name_servers", ...; lists as arrays; a fact not known is left out).
// UTF-8, compact, ended by one LF.
namespace JsonLine {

QByteArray format(const LookupResult &result);

// What a resumed run needs from a line written earlier: its address and whether it failed.
struct Summary
{
    QString address;
    bool failed = false;
};
// Nothing when the line is not an object with a string "address".
std::optional<Summary> read(QByteArrayView line);

} // namespace JsonLine
