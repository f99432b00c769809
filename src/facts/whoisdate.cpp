#include "facts/whoisdate.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace {

// Month names and abbreviations, lower case (English, with the longer forms registries use).
struct MonthName
{
    const char *name;
    int month;
};
const MonthName monthNames[] = {
    {"jan", 1},  {"january", 1},  {"feb", 2},    {"february", 2},  {"mar", 3},  {"march", 3},
    {"apr", 4},  {"april", 4},    {"may", 5},    {"jun", 6},       {"june", 6}, {"jul", 7},
    {"july", 7}, {"aug", 8},      {"august", 8}, {"sep", 9},       {"sept", 9}, {"september", 9},
    {"oct", 10}, {"october", 10}, {"nov", 11},   {"november", 11}, {"dec", 12}, {"december", 12},
};

// Zone abbreviations whois servers print after a time, with their offset from UTC in minutes.
// CST is read as the US zone, the one registries in that zone print.
struct ZoneName
{
    const char *name;
    int minutes;
};
const ZoneName zoneNames[] = {
    {"z", 0},      {"utc", 0},     {"gmt", 0},    {"ut", 0},     {"wet", 0},     {"west", 60},
    {"bst", 60},   {"cet", 60},    {"met", 60},   {"wat", 60},   {"cest", 120},  {"mest", 120},
    {"eet", 120},  {"sast", 120},  {"cat", 120},  {"eest", 180}, {"msk", 180},   {"trt", 180},
    {"eat", 180},  {"ast", -240},  {"irst", 210}, {"gst", 240},  {"aft", 270},   {"pkt", 300},
    {"ist", 330},  {"npt", 345},   {"ict", 420},  {"wib", 420},  {"hkt", 480},   {"sgt", 480},
    {"awst", 480}, {"myt", 480},   {"pht", 480},  {"wita", 480}, {"jst", 540},   {"kst", 540},
    {"wit", 540},  {"acst", 570},  {"aest", 600}, {"aedt", 660}, {"nzst", 720},  {"nzdt", 780},
    {"hst", -600}, {"akst", -540}, {"pst", -480}, {"pdt", -420}, {"mst", -420},  {"mdt", -360},
    {"cst", -360}, {"cdt", -300},  {"est", -300}, {"edt", -240}, {"adt", -180},  {"nst", -210},
    {"brt", -180}, {"brst", -120}, {"art", -180}, {"clt", -240}, {"clst", -180}, {"uyt", -180},
    {"cot", -300}, {"pet", -300},  {"vet", -240},
};

bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

char foldedAscii(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 'A' && u <= 'Z')
        return char(u - 'A' + 'a');
    return u < 128 ? char(u) : 0;
}

bool equalsFolded(QStringView token, const char *name)
{
    qsizetype i = 0;
    for (; name[i]; ++i) {
        if (i >= token.size() || foldedAscii(token[i]) != name[i])
            return false;
    }
    return i == token.size();
}

int monthFromName(QStringView token)
{
    if (token.endsWith(QLatin1Char('.')))
        token.chop(1);
    for (const MonthName &m : monthNames) {
        if (equalsFolded(token, m.name))
            return m.month;
    }
    return 0;
}

bool zoneFromName(QStringView token, int &minutes)
{
    for (const ZoneName &z : zoneNames) {
        if (equalsFolded(token, z.name)) {
            minutes = z.minutes;
            return true;
        }
    }
    return false;
}

// All digits, at most 9 of them; -1 otherwise.
int number(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 9)
        return -1;
    int value = 0;
    for (QChar c : digits) {
        if (!isDigit(c))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// "+01:00", "+0100", "-03", "+8", "+5:30": minutes east of UTC.
bool offsetFromText(QStringView text, int &minutes)
{
    if (text.size() < 2 || (text[0] != QLatin1Char('+') && text[0] != QLatin1Char('-')))
        return false;
    const int sign = text[0] == QLatin1Char('-') ? -1 : 1;
    text = text.mid(1);
    int hours = 0;
    int mins = 0;
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        hours = number(text.left(colon));
        mins = number(text.mid(colon + 1));
    } else if (text.size() <= 2) {
        hours = number(text);
    } else if (text.size() == 4) {
        hours = number(text.left(2));
        mins = number(text.mid(2));
    } else {
        return false;
    }
    if (hours < 0 || hours > 14 || mins < 0 || mins > 59)
        return false;
    minutes = sign * (hours * 60 + mins);
    return true;
}

struct DateParts
{
    int year = -1;
    int month = 0;
    int day = 0;
    int hour = -1;
    int minute = 0;
    int second = 0;
    int offset = 0;
    bool pm = false;
    bool am = false;
    DayMonthOrder order = DayMonthOrder::Unknown;
    std::array<int, 3> bare{};
    std::array<int, 3> bareDigits{};
    int bareCount = 0;
};

int fullYear(int year, int digits)
{
    if (digits <= 2)
        return year < 70 ? 2000 + year : 1900 + year;
    return year;
}

// "2020-01-02", "02-Jan-2020", "2020/01/02", "02.01.2020", "Aug-1996", "2020-1-2".
bool readDate(QStringView token, DateParts &parts)
{
    std::array<QStringView, 3> pieces;
    int count = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= token.size(); ++i) {
        if (i == token.size() || token[i] == QLatin1Char('-') || token[i] == QLatin1Char('/') ||
            token[i] == QLatin1Char('.')) {
            if (count == 3)
                return false;
            pieces[count++] = token.mid(start, i - start);
            start = i + 1;
        }
    }
    if (count < 2)
        return false;
    std::array<int, 3> values{};
    int monthPiece = -1;
    for (int i = 0; i < count; ++i) {
        values[i] = number(pieces[i]);
        if (values[i] < 0) {
            const int month = monthFromName(pieces[i]);
            if (month == 0 || monthPiece >= 0)
                return false;
            monthPiece = i;
            values[i] = month;
        }
    }
    if (count == 2) { // month and year
        if (monthPiece == 0 && pieces[1].size() == 4) {
            parts.month = values[0];
            parts.year = values[1];
        } else if (monthPiece < 0 && pieces[0].size() == 4) {
            parts.year = values[0];
            parts.month = values[1];
        } else if (monthPiece < 0 && pieces[1].size() == 4) {
            parts.month = values[0];
            parts.year = values[1];
        } else {
            return false;
        }
        parts.day = 1;
        return true;
    }
    if (monthPiece == 1) {
        if (pieces[0].size() == 4) {
            parts.year = values[0];
            parts.day = values[2];
        } else {
            parts.day = values[0];
            parts.year = fullYear(values[2], int(pieces[2].size()));
        }
        parts.month = values[1];
    } else if (monthPiece >= 0) {
        return false;
    } else if (pieces[0].size() == 4) {
        parts.year = values[0];
        parts.month = values[1];
        parts.day = values[2];
    } else if (pieces[2].size() == 4 || pieces[2].size() == 2) {
        parts.year = fullYear(values[2], int(pieces[2].size()));
        // Day first unless that cannot be, or the answer writes the month first.
        const bool monthCannotBeFirst = values[0] > 12 && values[1] <= 12;
        if ((values[1] > 12 && values[0] <= 12) ||
            (parts.order == DayMonthOrder::MonthFirst && !monthCannotBeFirst)) {
            parts.month = values[0];
            parts.day = values[1];
        } else {
            parts.day = values[0];
            parts.month = values[1];
        }
    } else {
        return false;
    }
    return true;
}

// "03:04:05", "03:04", "03:04:05.123", each maybe followed by "Z", an offset or "PM".
bool readTime(QStringView token, DateParts &parts)
{
    qsizetype i = 0;
    std::array<int, 3> values{};
    int count = 0;
    while (count < 3) {
        const qsizetype from = i;
        while (i < token.size() && isDigit(token[i]))
            ++i;
        if (i == from || i - from > 2)
            return false;
        values[count++] = number(token.mid(from, i - from));
        if (i < token.size() && token[i] == QLatin1Char(':'))
            ++i;
        else
            break;
    }
    if (count < 2)
        return false;
    if (i < token.size() && (token[i] == QLatin1Char('.') || token[i] == QLatin1Char(','))) {
        ++i;
        while (i < token.size() && isDigit(token[i]))
            ++i;
    }
    const QStringView rest = token.mid(i);
    if (!rest.isEmpty()) {
        int minutes = 0;
        if (offsetFromText(rest, minutes) || zoneFromName(rest, minutes))
            parts.offset = minutes;
        else if (equalsFolded(rest, "pm"))
            parts.pm = true;
        else if (equalsFolded(rest, "am"))
            parts.am = true;
        else
            return false;
    }
    parts.hour = values[0];
    parts.minute = values[1];
    parts.second = count == 3 ? values[2] : 0;
    return true;
}

void readToken(QStringView token, DateParts &parts)
{
    while (!token.isEmpty() &&
           (token.back() == QLatin1Char('.') || token.back() == QLatin1Char(',')))
        token.chop(1);
    if (token.isEmpty())
        return;
    int minutes = 0;
    // ISO 8601: date 'T' time.
    const qsizetype t = token.indexOf(QLatin1Char('T'), 0, Qt::CaseInsensitive);
    if (t > 0 && t + 1 < token.size() && isDigit(token[t - 1]) && isDigit(token[t + 1])) {
        const QStringView date = token.left(t);
        if (date.size() == 8 && number(date) >= 0) {
            parts.year = number(date.left(4));
            parts.month = number(date.mid(4, 2));
            parts.day = number(date.mid(6, 2));
        } else {
            readDate(date, parts);
        }
        readTime(token.mid(t + 1), parts);
        return;
    }
    if (isDigit(token[0])) {
        if (token.contains(QLatin1Char(':'))) {
            readTime(token, parts);
            return;
        }
        if (token.size() == 14 && number(token.left(7)) >= 0 && number(token.mid(7)) >= 0 &&
            parts.year < 0) {
            parts.year = number(token.left(4));
            parts.month = number(token.mid(4, 2));
            parts.day = number(token.mid(6, 2));
            parts.hour = number(token.mid(8, 2));
            parts.minute = number(token.mid(10, 2));
            parts.second = number(token.mid(12, 2));
            return;
        }
        int value = number(token);
        // "30th", "1st": a day written as an ordinal.
        if (value < 0 && token.size() >= 3 && token.size() <= 4 && isDigit(token[0]) &&
            (token.size() == 3 || isDigit(token[1]))) {
            const QStringView suffix = token.last(2);
            if (equalsFolded(suffix, "st") || equalsFolded(suffix, "nd") ||
                equalsFolded(suffix, "rd") || equalsFolded(suffix, "th")) {
                token.chop(2);
                value = number(token);
            }
        }
        if (value >= 0) {
            if (token.size() == 8 && parts.year < 0) {
                parts.year = value / 10000;
                parts.month = value / 100 % 100;
                parts.day = value % 100;
            } else if (token.size() <= 4 && parts.bareCount < 3) {
                parts.bareDigits[parts.bareCount] = int(token.size());
                parts.bare[parts.bareCount++] = value;
            }
            return;
        }
        readDate(token, parts);
        return;
    }
    if (token[0] == QLatin1Char('+') || token[0] == QLatin1Char('-')) {
        if (parts.hour >= 0 && offsetFromText(token, minutes))
            parts.offset = minutes;
        return;
    }
    if (const int month = monthFromName(token)) {
        parts.month = month;
        return;
    }
    if (token.size() > 3 && token[0].isLetter() && !token.contains(QLatin1Char('-'))) {
        // "UTC+8", "GMT+08:00"
        const qsizetype sign =
            std::max(token.indexOf(QLatin1Char('+')), token.indexOf(QLatin1Char('-')));
        if (sign > 0 && zoneFromName(token.left(sign), minutes) &&
            offsetFromText(token.mid(sign), minutes)) {
            parts.offset = minutes;
            return;
        }
    }
    if (zoneFromName(token, minutes)) {
        parts.offset = minutes;
        return;
    }
    if (token.contains(QLatin1Char('-')))
        readDate(token, parts); // "02-Jan-2020", "Aug-1996"
    else if (equalsFolded(token, "pm"))
        parts.pm = true;
    else if (equalsFolded(token, "am"))
        parts.am = true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = int(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        return 29;
    return days[m - 1];
}

} // namespace

QString utcDateFromSeconds(qint64 seconds)
{
    qint64 days = seconds / 86400;
    qint64 rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // civil from days
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    const qint64 y = yoe + era * 400 + (m <= 2);
    if (y < 1 || y > 9999)
        return {};
    // "YYYY-MM-DDTHH:MM:SSZ", laid out by hand (printf took about 3,000 instructions a date).
    QString text(20, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    const auto put = [&out](int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            out[i] = char16_t(u'0' + value % 10);
        out += digits;
    };
    const int time = int(rest);
    put(int(y), 4);
    *out++ = u'-';
    put(m, 2);
    *out++ = u'-';
    put(d, 2);
    *out++ = u'T';
    put(time / 3600, 2);
    *out++ = u':';
    put(time / 60 % 60, 2);
    *out++ = u':';
    put(time % 60, 2);
    *out = u'Z';
    return text;
}

std::optional<DayMonthOrder> dayMonthOrderShown(QStringView value)
{
    qsizetype start = 0;
    while (start < value.size() && value[start].isSpace())
        ++start;
    qsizetype end = start;
    while (end < value.size() && !value[end].isSpace() && value[end] != QLatin1Char('T'))
        ++end;
    const QStringView token = value.sliced(start, end - start);
    std::array<int, 3> values{};
    std::array<qsizetype, 3> sizes{};
    int count = 0;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= token.size(); ++i) {
        if (i < token.size() && isDigit(token[i]))
            continue;
        if (i < token.size() && token[i] != QLatin1Char('/') && token[i] != QLatin1Char('.') &&
            token[i] != QLatin1Char('-'))
            return std::nullopt;
        if (count == 3 || i == from)
            return std::nullopt;
        sizes[count] = i - from;
        values[count++] = number(token.mid(from, i - from));
        from = i + 1;
    }
    if (count != 3 || sizes[0] > 2 || sizes[1] > 2 || (sizes[2] != 2 && sizes[2] != 4) ||
        values[0] == values[1])
        return std::nullopt;
    if (values[0] > 12 && values[1] <= 12)
        return DayMonthOrder::DayFirst;
    if (values[1] > 12 && values[0] <= 12)
        return DayMonthOrder::MonthFirst;
    if (values[0] > 12 || values[0] == 0 || values[1] == 0)
        return std::nullopt;
    return DayMonthOrder::Unknown;
}

namespace {

// Whether a value is already a date and time as this reading writes them
// ("2024-01-02T03:04:05Z", a valid one): the form most registries use, given back as it is
// without being taken apart.
bool isPlainUtc(QStringView value)
{
    constexpr std::string_view Shape = "DDDD-DD-DDTDD:DD:DDZ";
    if (std::size_t(value.size()) != Shape.size())
        return false;
    int numbers[6] = {};
    int n = 0;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const char16_t c = value[qsizetype(i)].unicode();
        if (Shape[i] != 'D') {
            if (c != char16_t(Shape[i]))
                return false;
            ++n;
            continue;
        }
        if (c < u'0' || c > u'9')
            return false;
        numbers[n] = numbers[n] * 10 + (c - u'0');
    }
    const auto [year, month, day, hour, minute, second] = numbers;
    return year >= 1000 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month) && hour < 24 && minute < 60 && second < 60;
}

// "2019-09-09T08:39:04-0700", "2019-09-09T08:39:04.123+01:00", "...Z": the ISO form registrars
// write, read in one pass. Anything else, or a part out of range, is left to the token reading
// below, which reads these forms the same way (a fraction is dropped, the offset taken away).
std::optional<QString> isoDateWithOffset(QStringView value)
{
    const char16_t *p = value.utf16();
    const char16_t *const end = p + value.size();
    const auto digits = [&](int n, int &out) {
        if (end - p < n)
            return false;
        out = 0;
        for (int i = 0; i < n; ++i, ++p) {
            if (*p < u'0' || *p > u'9')
                return false;
            out = out * 10 + (*p - u'0');
        }
        return true;
    };
    const auto literal = [&](char16_t c) { return p < end && *p++ == c; };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(4, year) || !literal(u'-') || !digits(2, month) || !literal(u'-') ||
        !digits(2, day) || !literal(u'T') || !digits(2, hour) || !literal(u':') ||
        !digits(2, minute) || !literal(u':') || !digits(2, second))
        return std::nullopt;
    // A comma cuts the text into tokens there: only a point goes before a fraction here.
    if (p < end && *p == u'.') {
        ++p;
        while (p < end && *p >= u'0' && *p <= u'9')
            ++p;
    }
    int offset = 0;
    if (p < end && *p == u'Z') {
        ++p;
    } else if (p < end && (*p == u'+' || *p == u'-')) {
        const int sign = *p++ == u'-' ? -1 : 1;
        int hours = 0, minutes = 0;
        if (!digits(2, hours))
            return std::nullopt;
        // "+07", "+0700", "+07:00" (a colon needs its minutes).
        const bool colon = p < end && *p == u':';
        if (colon)
            ++p;
        if ((colon || p < end) && !digits(2, minutes))
            return std::nullopt;
        if (hours > 14 || minutes > 59)
            return std::nullopt;
        offset = sign * (hours * 60 + minutes);
    } else {
        return std::nullopt;
    }
    if (p != end || year < 1000 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month) || hour > 24 || minute > 59 || second > 60)
        return std::nullopt;
    return utcDateFromSeconds(daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                              second - offset * 60);
}

} // namespace

QString utcDateFromText(QStringView value, DayMonthOrder order)
{
    if (isPlainUtc(value))
        return value.toString();
    if (std::optional<QString> iso = isoDateWithOffset(value))
        return *std::move(iso);
    if (value.size() > 200)
        return {};
    DateParts parts;
    parts.order = order;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= value.size(); ++i) {
        const bool separator = i == value.size() || value[i].isSpace() ||
                               value[i] == QLatin1Char('(') || value[i] == QLatin1Char(')') ||
                               value[i] == QLatin1Char('[') || value[i] == QLatin1Char(']') ||
                               value[i] == QLatin1Char(',');
        if (separator) {
            if (start >= 0 && value[start] != QLatin1Char('#'))
                readToken(value.mid(start, i - start), parts);
            start = -1;
        } else if (start < 0) {
            start = i;
        }
    }
    // Numbers standing alone: "January 2 2020", "2 Jan 2020", "2008. 04. 14.".
    if (parts.bareCount > 0 && (parts.year < 0 || parts.day == 0)) {
        int b = 0;
        if (parts.month > 0) {
            for (; b < parts.bareCount; ++b) {
                if (parts.bareDigits[b] == 4 && parts.year < 0)
                    parts.year = parts.bare[b];
                else if (parts.bareDigits[b] <= 2 && parts.day == 0)
                    parts.day = parts.bare[b];
            }
        } else if (parts.bareCount == 3 && parts.bareDigits[0] == 4) {
            parts.year = parts.bare[0];
            parts.month = parts.bare[1];
            parts.day = parts.bare[2];
        }
    }
    if (parts.year < 1000 || parts.year > 9999 || parts.month < 1 || parts.month > 12 ||
        parts.day < 1 || parts.day > daysInMonth(parts.year, parts.month))
        return {};
    int hour = parts.hour < 0 ? 0 : parts.hour;
    if (parts.pm && hour < 12)
        hour += 12;
    else if (parts.am && hour == 12)
        hour = 0;
    if (hour > 24 || parts.minute > 59 || parts.second > 60)
        return {};
    const qint64 seconds = daysFromCivil(parts.year, parts.month, parts.day) * 86400 + hour * 3600 +
                           parts.minute * 60 + parts.second - parts.offset * 60;
    return utcDateFromSeconds(seconds);
}
