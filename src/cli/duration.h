#pragma once

#include <QString>

#include <optional>

// Spans of time as the command line takes them: a whole number and its unit, s, m, h, d or w
// ("90m", "6h", "2d"), several in a row adding up ("1d12h"); a bare "0" is no time at all.
namespace Duration {

// Milliseconds; nothing when the text is not such a span or is beyond a thousand years.
std::optional<qint64> parseMs(const QString &text);

// A moment in time as --since takes it: a date (YYYY-MM-DD, midnight UTC), a date and time in
// ISO 8601 (UTC unless it says otherwise), or a span meaning that long before `nowMs`.
std::optional<qint64> parseSinceMs(const QString &text, qint64 nowMs);

// A span in words for people: "3d 4h", "5h 20m", "42s".
QString text(qint64 ms);

} // namespace Duration
