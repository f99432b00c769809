#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

// Lines of an answer that change on every query although the record does not: the time of the
// registry's last database update, the time of the query, how long it took. The phrasings are
// one table in volatilelines.cpp.
namespace VolatileLines {

// Whether `line` (one line, no line end) is such a line; ASCII case is ignored.
bool isVolatile(QByteArrayView line);

// The text with its volatile lines left out (lines end at LF; a CR before it stays).
QByteArray without(QByteArrayView text);

// A 64-bit digest of the text as `without` leaves it: two answers whose digests match are the
// same answer. Stable across builds and machines, since stores keep it.
std::int64_t digest(QByteArrayView text, QByteArrayView salt = {});

} // namespace VolatileLines
