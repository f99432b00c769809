#include "net/ipaddress.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

int digitValue(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

// One part of a dotted IPv4 address, written as a C program would write a number ("0x1f",
// "037", "31"); at most `limit`.
std::optional<quint32> numberPart(std::string_view part, quint64 limit)
{
    int base = 10;
    if (part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        base = 16;
        part.remove_prefix(2);
    } else if (part.size() > 1 && part[0] == '0') {
        base = 8;
        part.remove_prefix(1);
    }
    if (part.empty())
        return std::nullopt;
    quint64 value = 0;
    for (const char c : part) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return std::nullopt;
        value = value * quint64(base) + quint64(digit);
        if (value > limit)
            return std::nullopt;
    }
    return quint32(value);
}

// One to four parts; the last fills the bytes the others left ("10.1" is 10.0.0.1).
std::optional<quint32> parseV4(std::string_view text)
{
    quint32 value = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = text.find('.');
        if (dot == std::string_view::npos) {
            const int restBits = 8 * (4 - part);
            const std::optional<quint32> last =
                numberPart(text, restBits == 32 ? 0xffffffffULL : (1ULL << restBits) - 1);
            if (!last)
                return std::nullopt;
            return part == 0 ? *last : value << restBits | *last;
        }
        const std::optional<quint32> byte = numberPart(text.substr(0, dot), 255);
        if (!byte)
            return std::nullopt;
        value = value << 8 | *byte;
        text.remove_prefix(dot + 1);
    }
    return std::nullopt; // a fifth part
}

// The dotted tail of an IPv6 address: four decimal parts, no leading zeros.
std::optional<quint32> parseDecimalQuad(std::string_view text)
{
    quint32 value = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || dot == 0 || dot > 3 || (dot > 1 && text[0] == '0'))
            return std::nullopt;
        quint32 byte = 0;
        for (size_t i = 0; i < dot; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return std::nullopt;
            byte = byte * 10 + quint32(text[i] - '0');
        }
        if (byte > 255)
            return std::nullopt;
        value = value << 8 | byte;
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return value;
}

std::optional<IpAddress::V6Bytes> parseV6(std::string_view text)
{
    std::array<quint16, 8> groups{};
    int count = 0;
    int gap = -1; // where "::" stands, in groups
    size_t i = 0;
    if (text.substr(0, 2) == "::") {
        gap = 0;
        i = 2;
    } else if (text.empty() || text[0] == ':') {
        return std::nullopt;
    }
    while (i < text.size()) {
        const size_t start = i;
        quint32 value = 0;
        while (i < text.size() && digitValue(text[i], 16) >= 0 && i - start <= 4)
            value = value << 4 | quint32(digitValue(text[i++], 16));
        if (i < text.size() && text[i] == '.') {
            const std::optional<quint32> v4 = parseDecimalQuad(text.substr(start));
            if (!v4 || count > 6)
                return std::nullopt;
            groups[count++] = quint16(*v4 >> 16);
            groups[count++] = quint16(*v4);
            break;
        }
        if (i == start || i - start > 4 || count == 8)
            return std::nullopt;
        groups[count++] = quint16(value);
        if (i == text.size())
            break;
        if (text[i++] != ':' || i == text.size())
            return std::nullopt;
        if (text[i] == ':') {
            if (gap >= 0)
                return std::nullopt;
            gap = count;
            ++i;
        }
    }
    if (gap < 0 ? count != 8 : count > 7)
        return std::nullopt;
    IpAddress::V6Bytes bytes{};
    const int tail = gap < 0 ? 0 : count - gap;
    for (int k = 0; k < count; ++k) {
        const int at = gap >= 0 && k >= gap ? 8 - tail + (k - gap) : k;
        bytes[size_t(2 * at)] = quint8(groups[size_t(k)] >> 8);
        bytes[size_t(2 * at + 1)] = quint8(groups[size_t(k)]);
    }
    return bytes;
}

void clearHostBits(IpAddress::V6Bytes &bytes, int from)
{
    // The byte that holds bit `from` keeps its bits before it; the bytes after it are cleared
    // whole (a bit at a time, a /8 network cost 120 steps, and every referral is checked
    // against a dozen networks).
    if (from >= 128)
        return;
    size_t byte = size_t(from / 8);
    if (from % 8 != 0)
        bytes[byte++] &= quint8(0xff00u >> (from % 8));
    std::fill(bytes.begin() + qsizetype(byte), bytes.end(), quint8(0));
}

void appendV4(QString &out, quint32 v4)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += QString::number((v4 >> shift) & 0xff);
        if (shift > 0)
            out += u'.';
    }
}

// An IPv4 netmask written as an address ("255.255.240.0") as a prefix length; -1 when its ones
// do not all come first.
int maskLength(quint32 mask)
{
    int length = 0;
    while (length < 32 && (mask & (0x80000000u >> length)))
        ++length;
    return length == 32 || (mask << length) == 0 ? length : -1;
}

// A decimal prefix length of one to three digits.
int decimalLength(std::string_view text)
{
    if (text.empty() || text.size() > 3)
        return -1;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The text as ASCII, spaces around it removed; empty when any character is not ASCII.
std::string asciiOf(QStringView text)
{
    text = text.trimmed();
    std::string out;
    out.reserve(size_t(text.size()));
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 || c.unicode() == 0)
            return {};
        out += char(c.unicode());
    }
    return out;
}

} // namespace

IpAddress::IpAddress(quint32 v4) : m_family(Family::V4)
{
    m_bytes[12] = quint8(v4 >> 24);
    m_bytes[13] = quint8(v4 >> 16);
    m_bytes[14] = quint8(v4 >> 8);
    m_bytes[15] = quint8(v4);
}

IpAddress::IpAddress(const V6Bytes &v6) : m_family(Family::V6), m_bytes(v6)
{
}

IpAddress IpAddress::fromString(QStringView text)
{
    const std::string ascii = asciiOf(text);
    if (ascii.empty())
        return {};
    if (ascii.find(':') != std::string::npos) {
        const std::optional<V6Bytes> v6 = parseV6(ascii);
        return v6 ? IpAddress(*v6) : IpAddress();
    }
    const std::optional<quint32> v4 = parseV4(ascii);
    return v4 ? IpAddress(*v4) : IpAddress();
}

IpAddress IpAddress::fromSockaddr(const sockaddr *address)
{
    if (address->sa_family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, address, sizeof in);
        return IpAddress(ntohl(in.sin_addr.s_addr));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, address, sizeof in6);
        V6Bytes bytes{};
        std::memcpy(bytes.data(), &in6.sin6_addr, bytes.size());
        return IpAddress(bytes);
    }
    return {};
}

std::pair<IpAddress, int> IpAddress::parseSubnet(QStringView text)
{
    const std::pair<IpAddress, int> invalid{IpAddress(), -1};
    const std::string ascii = asciiOf(text);
    const size_t slash = ascii.find('/');
    const std::string_view network = std::string_view(ascii).substr(0, slash);
    const std::string_view length =
        slash == std::string::npos ? std::string_view() : std::string_view(ascii).substr(slash + 1);
    if (network.empty() || (slash != std::string::npos && length.empty()))
        return invalid;

    if (network.find(':') != std::string_view::npos) {
        const int bits = length.empty() ? 128 : decimalLength(length);
        const std::optional<V6Bytes> v6 = parseV6(network);
        if (bits < 0 || bits > 128 || !v6)
            return invalid;
        V6Bytes bytes = *v6;
        clearHostBits(bytes, bits);
        return {IpAddress(bytes), bits};
    }

    // Dotted decimal, up to four parts, a trailing dot allowed: "10.", "192.168".
    std::string_view rest = network;
    if (rest.back() == '.')
        rest.remove_suffix(1);
    quint32 value = 0;
    int parts = 0;
    while (!rest.empty()) {
        const size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        const int byte = decimalLength(part);
        if (byte < 0 || byte > 255 || ++parts > 4)
            return invalid;
        value = value << 8 | quint32(byte);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (dot != std::string_view::npos && rest.empty())
            return invalid;
    }
    if (parts == 0)
        return invalid;
    value = parts == 4 ? value : value << (8 * (4 - parts));

    int bits = 8 * parts;
    if (!length.empty()) {
        if (length.find('.') != std::string_view::npos) {
            const std::optional<quint32> mask = parseV4(length);
            bits = mask ? maskLength(*mask) : -1;
        } else {
            bits = decimalLength(length);
        }
    }
    if (bits < 0 || bits > 32)
        return invalid;
    if (bits < 32)
        value &= bits == 0 ? 0 : ~(0xffffffffu >> bits);
    return {IpAddress(value), bits};
}

quint32 IpAddress::toV4() const
{
    return m_family == Family::V4 ? quint32(m_bytes[12]) << 24 | quint32(m_bytes[13]) << 16 |
                                        quint32(m_bytes[14]) << 8 | quint32(m_bytes[15])
                                  : 0;
}

std::optional<quint32> IpAddress::mappedV4() const
{
    if (m_family == Family::V4)
        return toV4();
    if (m_family != Family::V6)
        return std::nullopt;
    static constexpr quint8 zeros[10] = {};
    if (std::memcmp(m_bytes.data(), zeros, 10) != 0)
        return std::nullopt;
    const bool mapped = m_bytes[10] == 0xff && m_bytes[11] == 0xff;
    // "::" is the unspecified address of either family.
    const bool unspecified = m_bytes == V6Bytes{};
    if (!mapped && !unspecified)
        return std::nullopt;
    return quint32(m_bytes[12]) << 24 | quint32(m_bytes[13]) << 16 | quint32(m_bytes[14]) << 8 |
           quint32(m_bytes[15]);
}

IpAddress::V6Bytes IpAddress::toV6() const
{
    V6Bytes bytes = m_bytes;
    if (m_family == Family::V4)
        bytes[10] = bytes[11] = 0xff;
    return bytes;
}

QString IpAddress::toString() const
{
    QString out;
    if (m_family == Family::V4) {
        appendV4(out, toV4());
        return out;
    }
    if (m_family != Family::V6)
        return out;

    const auto group = [this](int k) {
        return quint16(m_bytes[size_t(2 * k)] << 8 | m_bytes[size_t(2 * k + 1)]);
    };
    static constexpr quint8 zeros[10] = {};
    bool v4Tail = false;
    if (std::memcmp(m_bytes.data(), zeros, 10) == 0) {
        if (m_bytes[10] == 0xff && m_bytes[11] == 0xff) {
            v4Tail = true;
        } else if (m_bytes[10] == 0 && m_bytes[11] == 0) {
            if (m_bytes[12] != 0 || m_bytes[13] != 0 || m_bytes[14] != 0)
                v4Tail = true;
            else if (m_bytes[15] == 0)
                return QStringLiteral("::");
        }
    }

    // The first longest run of at least two zero groups.
    int runStart = -1;
    int runLength = 1;
    for (int k = 0; k < 8;) {
        int end = k;
        while (end < 8 && group(end) == 0)
            ++end;
        if (end - k > runLength) {
            runStart = k;
            runLength = end - k;
        }
        k = end == k ? k + 1 : end;
    }

    out.reserve(40);
    if (runStart == 0)
        out += u':';
    for (int k = 0; k < 8; ++k) {
        if (k == runStart) {
            out += u':';
            k += runLength - 1;
            continue;
        }
        if (k == 6 && v4Tail) {
            appendV4(out, quint32(group(6)) << 16 | group(7));
            return out;
        }
        out += QString::number(group(k), 16);
        if (k != 7)
            out += u':';
    }
    return out;
}

bool IpAddress::isLoopback() const
{
    if (const std::optional<quint32> v4 = mappedV4())
        return (*v4 >> 24) == 127;
    if (m_family != Family::V6)
        return false;
    V6Bytes one{};
    one[15] = 1;
    return m_bytes == one;
}

IpAddress IpAddress::network(int length) const
{
    const int width = m_family == Family::V4 ? 32 : 128;
    if (m_family == Family::None || length < 0 || length > width)
        return {};
    IpAddress first = *this;
    clearHostBits(first.m_bytes, (m_family == Family::V4 ? 96 : 0) + length);
    return first;
}

bool IpAddress::isInSubnet(const IpAddress &network, int length) const
{
    if (m_family == Family::None || network.m_family != m_family || length < 0)
        return false;
    const int bits = std::min(length, m_family == Family::V4 ? 32 : 128);
    return this->network(bits) == network.network(bits);
}
