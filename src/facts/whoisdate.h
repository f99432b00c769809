#pragma once

#include <QString>
#include <QStringView>

// A whois date value as UTC "YYYY-MM-DDTHH:MM:SSZ", or an empty string when the value holds no
// whole date. A date without a time is midnight; a zone the value names (an offset, "UTC", an
// abbreviation such as JST or CLST) is applied. Trailing notes ("#12345", "(YYYY-MM-DD)") and
// weekday names are passed over; "before Aug-1996" reads as the first of that month.
QString utcDateFromText(QStringView value);

// The same from a count of seconds since 1970-01-01 UTC.
QString utcDateFromSeconds(qint64 seconds);
