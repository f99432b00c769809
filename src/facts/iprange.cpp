#include "facts/iprange.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace {

// An address as 128 bits (high, low); IPv4 in the low 32 bits.
struct Address
{
    uint64_t high = 0;
    uint64_t low = 0;
    bool v6 = false;
};

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

std::optional<Address> ipv4(QStringView text, bool allowShort)
{
    uint32_t value = 0;
    int octets = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        int octet = 0;
        const qsizetype from = i;
        while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128 && i - from < 3)
            octet = octet * 10 + (text[i++].unicode() - '0');
        if (i == from || octet > 255 || octets == 4)
            return std::nullopt;
        value = (value << 8) | uint32_t(octet);
        ++octets;
        if (i < text.size()) {
            if (text[i] != QLatin1Char('.'))
                return std::nullopt;
            ++i;
        }
    }
    if (octets != 4 && !(allowShort && octets >= 1))
        return std::nullopt;
    value <<= 8 * (4 - octets);
    return Address{0, value, false};
}

std::optional<Address> ipv6(QStringView text)
{
    std::array<uint16_t, 8> groups{};
    int count = 0;
    int gap = -1;
    qsizetype i = 0;
    if (text.startsWith(QLatin1String("::"))) {
        gap = 0;
        i = 2;
    }
    while (i < text.size()) {
        int value = 0;
        const qsizetype from = i;
        while (i < text.size() && hexValue(text[i]) >= 0 && i - from < 4)
            value = value * 16 + hexValue(text[i++]);
        if (i == from || count == 8)
            return std::nullopt;
        groups[count++] = uint16_t(value);
        if (i == text.size())
            break;
        if (text[i] != QLatin1Char(':'))
            return std::nullopt;
        ++i;
        if (i < text.size() && text[i] == QLatin1Char(':')) {
            if (gap >= 0)
                return std::nullopt;
            gap = count;
            ++i;
        }
    }
    if (gap < 0 && count != 8)
        return std::nullopt;
    std::array<uint16_t, 8> full{};
    for (int k = 0; k < gap && k < count; ++k)
        full[k] = groups[k];
    const int tail = gap < 0 ? 0 : count - gap;
    if (gap < 0) {
        full = groups;
    } else {
        for (int k = 0; k < tail; ++k)
            full[8 - tail + k] = groups[gap + k];
    }
    Address a{0, 0, true};
    for (int k = 0; k < 4; ++k)
        a.high = (a.high << 16) | full[k];
    for (int k = 4; k < 8; ++k)
        a.low = (a.low << 16) | full[k];
    return a;
}

std::optional<Address> address(QStringView text, bool allowShort)
{
    text = text.trimmed();
    if (text.contains(QLatin1Char(':')))
        return ipv6(text);
    return ipv4(text, allowShort);
}

QString format(const Address &a)
{
    if (!a.v6) {
        const uint32_t v = uint32_t(a.low);
        return QString::number(v >> 24) + QLatin1Char('.') + QString::number((v >> 16) & 255) +
               QLatin1Char('.') + QString::number((v >> 8) & 255) + QLatin1Char('.') +
               QString::number(v & 255);
    }
    std::array<uint16_t, 8> g{};
    for (int k = 0; k < 4; ++k) {
        g[k] = uint16_t(a.high >> (48 - 16 * k));
        g[4 + k] = uint16_t(a.low >> (48 - 16 * k));
    }
    // The longest run of two or more zero groups becomes "::".
    int bestStart = -1;
    int bestLength = 1;
    for (int k = 0; k < 8;) {
        if (g[k] != 0) {
            ++k;
            continue;
        }
        int end = k;
        while (end < 8 && g[end] == 0)
            ++end;
        if (end - k > bestLength) {
            bestStart = k;
            bestLength = end - k;
        }
        k = end;
    }
    QString out;
    for (int k = 0; k < 8; ++k) {
        if (k == bestStart) {
            out += QLatin1String("::");
            k += bestLength - 1;
            continue;
        }
        if (!out.isEmpty() && !out.endsWith(QLatin1Char(':')))
            out += QLatin1Char(':');
        out += QString::number(g[k], 16);
    }
    return out;
}

// The last address of the prefix of length bits starting at a; false when a is not its start.
bool prefixEnd(const Address &a, int bits, Address &end)
{
    const int width = a.v6 ? 128 : 32;
    if (bits < 0 || bits > width)
        return false;
    const int hostBits = width - bits;
    uint64_t maskHigh = 0;
    uint64_t maskLow = 0;
    if (hostBits >= 64) {
        maskLow = ~uint64_t(0);
        maskHigh = hostBits == 128 ? ~uint64_t(0) : (uint64_t(1) << (hostBits - 64)) - 1;
    } else {
        maskLow = hostBits == 0 ? 0 : (uint64_t(1) << hostBits) - 1;
    }
    if ((a.high & maskHigh) || (a.low & maskLow))
        return false;
    end = Address{a.high | maskHigh, a.low | maskLow, a.v6};
    return true;
}

double span(const Address &first, const Address &last)
{
    const double high = double(last.high) - double(first.high);
    const double low = double(last.low) - double(first.low);
    return high * 18446744073709551616.0 + low + 1;
}

__extension__ typedef unsigned __int128 Bits;

Bits bitsOf(const Address &a)
{
    return Bits(a.high) << 64 | a.low;
}

// The last address of the block of 2^hostBits addresses that starts at `start`.
Bits blockEnd(Bits start, int hostBits)
{
    return hostBits >= 128 ? ~Bits(0) : start | ((Bits(1) << hostBits) - 1);
}

// Each step takes the largest block aligned at the next address that ends by `last`: at most
// two prefixes per bit of the width.
QStringList cover(const Address &first, const Address &last)
{
    const int width = first.v6 ? 128 : 32;
    Bits start = bitsOf(first);
    const Bits end = bitsOf(last);
    QStringList prefixes;
    for (;;) {
        int hostBits = 0;
        while (hostBits < width && ((start >> hostBits) & 1) == 0 &&
               blockEnd(start, hostBits + 1) <= end)
            ++hostBits;
        const Address at{uint64_t(start >> 64), uint64_t(start), first.v6};
        prefixes << format(at) + QLatin1Char('/') + QString::number(width - hostBits);
        const Bits blockLast = blockEnd(start, hostBits);
        if (blockLast >= end)
            break;
        start = blockLast + 1;
    }
    return prefixes;
}

bool inOrder(const Address &first, const Address &last)
{
    return first.v6 == last.v6 &&
           (first.high < last.high || (first.high == last.high && first.low <= last.low));
}

// The first and last address of a range as ipRangeFromText reads it.
bool readRange(QStringView text, Address &first, Address &last)
{
    text = text.trimmed();
    // JPNIC and KRNIC add the prefix after the range: "192.0.2.0 - 192.0.2.255 (/24)".
    const qsizetype paren = text.indexOf(QLatin1Char('('));
    if (paren > 0)
        text = text.left(paren).trimmed();
    if (text.size() > 100)
        return false;
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    if (dash > 0) {
        const auto a = address(text.left(dash), false);
        const auto b = address(text.mid(dash + 1), false);
        if (!a || !b || !inOrder(*a, *b))
            return false;
        first = *a;
        last = *b;
        return true;
    }
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return false;
    const auto a = address(text.left(slash), true);
    bool ok = false;
    const int bits = text.mid(slash + 1).toInt(&ok);
    if (!a || !ok || !prefixEnd(*a, bits, last))
        return false;
    first = *a;
    return true;
}

} // namespace

std::optional<IpRange> ipRangeFromText(QStringView text)
{
    Address first;
    Address last;
    if (!readRange(text, first, last))
        return std::nullopt;
    IpRange range;
    range.range = format(first) + QLatin1String(" - ") + format(last);
    range.cidr = cover(first, last).join(QLatin1String(", "));
    range.addresses = span(first, last);
    return range;
}

QString ipRangeTextFromText(QStringView text)
{
    Address first;
    Address last;
    if (!readRange(text, first, last))
        return {};
    return format(first) + QLatin1String(" - ") + format(last);
}

QStringList coveringPrefixes(QStringView first, QStringView last)
{
    const auto a = address(first, false);
    const auto b = address(last, false);
    if (!a || !b || !inOrder(*a, *b))
        return {};
    return cover(*a, *b);
}
