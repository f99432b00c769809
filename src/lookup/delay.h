#pragma once

#include <QLocale>
#include <QString>

#include <optional>

// The delay between lookups, typed in seconds into the delay box.

// True when the text reads as a number under the locale's conventions: spaces around it, a
// leading sign, the locale's decimal and group separators and an exponent are allowed. The
// empty text and a text of spaces only are not numbers.
bool IsDelayNumeric(const QString &text, const QLocale &locale = QLocale());

// The pause length: the number rounded to the nearest whole second, halves to the even one.
// Nothing when the text is not a number or the result lies outside -32768 to 32767.
std::optional<int> DelaySeconds(const QString &text, const QLocale &locale = QLocale());

// The pause length in milliseconds, fractions of a second kept (the command line's delay):
// the number of seconds times 1000, rounded to the nearest millisecond. Nothing when the text
// is not a number or lies outside -32768 to 32767 seconds.
std::optional<qint64> DelayMilliseconds(const QString &text, const QLocale &locale = QLocale());
