#include "lookup/delay.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// Reads the text as a number the way the locale writes one; nothing when it is not one.
std::optional<double> readNumber(const QString &text, const QLocale &locale)
{
    const QString decimal = locale.decimalPoint();
    const QString group = locale.groupSeparator();

    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && text[i] == QLatin1Char(' '))
        ++i;
    while (end > i && text[end - 1] == QLatin1Char(' '))
        --end;

    std::string plain; // the number in the C locale's form, for strtod
    if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        plain += char(text[i++].unicode());

    int digits = 0;
    bool seenDecimal = false;
    while (i < end) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128) {
            plain += char(c.unicode());
            ++digits;
            ++i;
        } else if (!seenDecimal && text.sliced(i).startsWith(decimal)) {
            plain += '.';
            seenDecimal = true;
            i += decimal.size();
        } else if (!seenDecimal && !group.isEmpty() && digits > 0 &&
                   text.sliced(i).startsWith(group)) {
            i += group.size(); // group separators stand between digits of the whole part
        } else {
            break;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < end && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        plain += 'e';
        ++i;
        if (i < end && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            plain += char(text[i++].unicode());
        int exponentDigits = 0;
        while (i < end && text[i].isDigit() && text[i].unicode() < 128) {
            plain += char(text[i++].unicode());
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != end)
        return std::nullopt;
    return std::strtod(plain.c_str(), nullptr);
}

} // namespace

bool IsDelayNumeric(const QString &text, const QLocale &locale)
{
    return readNumber(text, locale).has_value();
}

std::optional<int> DelaySeconds(const QString &text, const QLocale &locale)
{
    const std::optional<double> number = readNumber(text, locale);
    if (!number || !std::isfinite(*number))
        return std::nullopt;
    const double whole = std::nearbyint(*number); // the default rounding sends halves to even
    if (whole < -32768.0 || whole > 32767.0)
        return std::nullopt;
    return int(whole);
}

std::optional<qint64> DelayMilliseconds(const QString &text, const QLocale &locale)
{
    const std::optional<double> number = readNumber(text, locale);
    if (!number || !std::isfinite(*number) || *number < -32768.0 || *number > 32767.0)
        return std::nullopt;
    return qint64(std::llround(*number * 1000.0));
}
