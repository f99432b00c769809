#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// How a date written with numbers alone orders its day and month ("02/03/2020").
enum class DayMonthOrder
{
    Unknown, // day first, unless the numbers show it cannot be
    DayFirst,
    MonthFirst,
};

// A whois date value as UTC "YYYY-MM-DDTHH:MM:SSZ", or an empty string when the value holds no
// whole date. A date without a time is midnight; a zone the value names (an offset, "UTC", an
// abbreviation such as JST or CLST) is applied. Trailing notes ("#12345", "(YYYY-MM-DD)") and
// weekday names are passed over; "before Aug-1996" reads as the first of that month. `order`
// says how to read a day and month that could each be the other.
QString utcDateFromText(QStringView value, DayMonthOrder order = DayMonthOrder::Unknown);

// The order a value's leading numeric date shows: DayFirst when its first number cannot be a
// month ("13/01/2020"), MonthFirst when its second cannot ("01/13/2020"), Unknown when either
// could be ("02/03/2020"); nothing when the value starts with no such date (or both numbers are
// equal, so the order does not matter).
std::optional<DayMonthOrder> dayMonthOrderShown(QStringView value);

// The same from a count of seconds since 1970-01-01 UTC.
QString utcDateFromSeconds(qint64 seconds);
