#include "store/volatilelines.h"

#include <algorithm>
#include <cstring>

#include <string_view>

namespace {

// Lower-case ASCII pieces of the lines that carry a time of the query or of the database
// rather than of the record. A line is volatile when it holds one of them.
constexpr std::string_view Phrasings[] = {
    "last update of whois database", // >>> Last update of WHOIS database: ... <<<
    "last update of rdap database",  // RDAP's event of that name, rendered or quoted
    "last update of the whois database",
    "whois database was last updated on",
    "whois lookup made at", // Nominet
    "query time:",          // "% Query time: 2 msec", "Query time: ..."
    "query_time",
    "queried at",
    "query date:",
    "timestamp:",      // "% Timestamp: ..."
    "% generated at ", // registries that stamp each answer
    "response generated",
    "this query was served by", // RIPE's server name and version
    "information updated:",
    "data retrieved at",
    "record retrieved at",
};

// Pieces every phrasing holds one of, looked for first: a line that holds one is then checked
// for the whole phrasings. Fewer and shorter searches than one per phrasing.
constexpr std::string_view Anchors[] = {
    "update", "quer", "timestamp", "generated", "made at", "retrieved at",
};

// A volatile line is short: a phrasing inside a long paragraph is part of the record.
constexpr std::size_t LongestVolatileLine = 200;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
}

// Lower-cases the ASCII letters of eight bytes at once: each byte's high bit marks whether it
// lies in 'A'..'Z' (no carry crosses a byte, the high bits being masked off first), and that
// mark shifted down to 0x20 is the case bit.
std::uint64_t lowerWord(std::uint64_t w)
{
    constexpr std::uint64_t Ones = 0x0101010101010101ull;
    constexpr std::uint64_t High = Ones * 0x80;
    const std::uint64_t low7 = w & ~High;
    const std::uint64_t atLeastA = low7 + Ones * (0x80 - 'A');
    const std::uint64_t pastZ = low7 + Ones * (0x80 - 'Z' - 1);
    const std::uint64_t upper = ~w & atLeastA & ~pastZ & High;
    return w | (upper >> 2);
}

void lowerInto(char *out, const char *in, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, in + i, 8);
        w = lowerWord(w);
        std::memcpy(out + i, &w, 8);
    }
    for (; i < n; ++i)
        out[i] = lower(in[i]);
}

// A running 64-bit digest of bytes given in any number of pieces: the same bytes give the same
// digest however they are cut.
class Digest
{
public:
    static std::uint64_t mix(std::uint64_t x)
    {
        x ^= x >> 31;
        x *= 0x7FB5D329728EA185ull;
        x ^= x >> 27;
        x *= 0x81DADEF4BC2DD44Dull;
        x ^= x >> 33;
        return x;
    }
    void add(const char *p, std::size_t n)
    {
        m_length += n;
        while (n > 0 && m_pending > 0) {
            m_buffer[m_pending++] = *p++;
            --n;
            if (m_pending == 8) {
                word(m_buffer);
                m_pending = 0;
            }
        }
        for (; n >= 8; p += 8, n -= 8)
            word(p);
        if (n > 0) // p may be null for an empty view
            std::memcpy(m_buffer + m_pending, p, n);
        m_pending += n;
    }
    std::uint64_t finish()
    {
        std::uint64_t tail = 0;
        std::memcpy(&tail, m_buffer, m_pending);
        return mix(mix(m_h ^ tail) ^ m_length);
    }

private:
    void word(const char *p)
    {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        m_h = mix(m_h ^ w) + 0x632BE59BD9B4E019ull;
    }

    std::uint64_t m_h = 0x9E3779B97F4A7C15ull;
    std::uint64_t m_length = 0;
    char m_buffer[8] = {};
    std::size_t m_pending = 0;
};

// Whether a line (at most LongestVolatileLine bytes) holds a phrasing, in any case. The anchors
// are looked for first: most lines hold none, and each phrasing holds one of them.
bool holdsPhrasing(const char *line, std::size_t n)
{
    char buffer[LongestVolatileLine];
    lowerInto(buffer, line, n);
    const std::string_view lowered(buffer, n);
    const auto in = [&](std::string_view piece) {
        return lowered.find(piece) != std::string_view::npos;
    };
    return std::any_of(std::begin(Anchors), std::end(Anchors), in) &&
           std::any_of(std::begin(Phrasings), std::end(Phrasings), in);
}

// Calls `keep(begin, end)` for each stretch of `text` outside the volatile lines, in order. A
// line runs to its LF (a CR before it is part of the line); a cut line takes its LF with it.
// Lines longer than a volatile line can be are passed by without a look.
template <class Keep> void forEachKeptStretch(QByteArrayView text, Keep &&keep)
{
    const char *const begin = text.data();
    const std::size_t size = std::size_t(text.size());
    std::size_t keptFrom = 0;
    std::size_t lineStart = 0;
    while (lineStart < size) {
        const void *lf = std::memchr(begin + lineStart, '\n', size - lineStart);
        const std::size_t lineLength =
            lf ? std::size_t(static_cast<const char *>(lf) - begin) - lineStart : size - lineStart;
        const std::size_t lineEnd = lf ? lineStart + lineLength + 1 : size;
        if (lineLength <= LongestVolatileLine && holdsPhrasing(begin + lineStart, lineLength)) {
            if (lineStart > keptFrom)
                keep(begin + keptFrom, begin + lineStart);
            keptFrom = lineEnd;
        }
        lineStart = lineEnd;
    }
    if (size > keptFrom)
        keep(begin + keptFrom, begin + size);
}

} // namespace

namespace VolatileLines {

bool isVolatile(QByteArrayView line)
{
    return line.size() <= qsizetype(LongestVolatileLine) &&
           holdsPhrasing(line.data(), std::size_t(line.size()));
}

QByteArray without(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    forEachKeptStretch(text, [&](const char *b, const char *e) { out.append(b, e - b); });
    return out;
}

std::int64_t digest(QByteArrayView text, QByteArrayView salt)
{
    Digest d;
    d.add(salt.data(), std::size_t(salt.size()));
    const char zero = 0;
    d.add(&zero, 1);
    forEachKeptStretch(text, [&](const char *b, const char *e) { d.add(b, std::size_t(e - b)); });
    return std::int64_t(d.finish());
}

} // namespace VolatileLines
