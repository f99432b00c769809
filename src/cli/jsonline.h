#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

struct LookupResult;

// One lookup as one line of JSON, its keys in a fixed order for people reading it: "address",
// "source", the record's facts under their keys in column order (factColumns(): "status",
// "registrar", "expires", "name_servers", ...; lists as arrays; a fact not known is left out)
// with "error" right after "status" when the lookup failed, then "servers" (list) and "fields"
// (list of [name, value], in record order, every value of a repeated name kept), "asked_at"
// (UTC), "from_store" (true when no server was asked) and "changed" (the facts that differ from
// the previous stored answer, when any). UTF-8,
// compact, ended by one LF. Laid out straight into the line's bytes: the escapes are the ones
// QJsonDocument writes (\" \\ \b \f \n \r \t, \u00XX for other control characters, \uXXXX
// in lower case for half a surrogate pair), everything else as UTF-8.
namespace JsonLine {

// A time as the lines write it: UTC, YYYY-MM-DDTHH:MM:SSZ.
QString utcText(qint64 msSinceEpoch);

QByteArray format(const LookupResult &result);

// A JSON string of the text, quotes included.
void appendString(QByteArray &out, QStringView text);
// The same of UTF-8 bytes; a sequence that is not UTF-8 is written as U+FFFD.
void appendUtf8String(QByteArray &out, QByteArrayView utf8);
void appendStringArray(QByteArray &out, const QStringList &list);

// What a resumed run needs from a line written earlier: its address, its status and whether
// the lookup did not get its answer (failed, throttled or invalid: the line has an "error").
struct Summary
{
    QString address;
    QString status;
    bool failed = false;
};
// Nothing when the line is not an object with a string "address".
std::optional<Summary> read(QByteArrayView line);

} // namespace JsonLine
