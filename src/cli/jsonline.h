#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

struct LookupResult;

// One lookup as one line of JSON: "address", "source", "error" (when the lookup failed),
// "servers" (list), "fields" (list of [name, value], in record order, every value of a
// repeated name kept), the record's facts under their keys (factColumns(): "status",
// "registrar", "expires", "name_servers", ...; lists as arrays; a fact not known is left out),
// "asked_at" (UTC), "from_store" (true when no server was asked) and "changed" (the facts that
// differ from the previous stored answer, when any). UTF-8, compact, ended by one LF.
namespace JsonLine {

// A time as the lines write it: UTC, YYYY-MM-DDTHH:MM:SSZ.
QString utcText(qint64 msSinceEpoch);

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
