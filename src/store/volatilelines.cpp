#include "store/volatilelines.h"

#include <algorithm>
#include <cstring>

#include <string.h>
#include <string>
#include <string_view>
#include <vector>

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

// Calls `keep(begin, end)` for each stretch of `text` outside the volatile lines, in order. The
// text is lowered once and each phrasing looked for in the whole of it, which is far quicker
// than looking at every line for every phrasing.
template <class Keep> void forEachKeptStretch(QByteArrayView text, Keep &&keep)
{
    const char *const begin = text.data();
    const std::size_t size = std::size_t(text.size());
    thread_local std::string lowered;
    lowered.resize(size);
    for (std::size_t i = 0; i < size; ++i)
        lowered[i] = lower(begin[i]);

    // The lines that hold a phrasing, as [start, end) with the LF included.
    thread_local std::vector<std::pair<std::size_t, std::size_t>> cut;
    cut.clear();
    for (std::string_view anchor : Anchors) {
        std::size_t from = 0;
        while (from < size) {
            const void *hit =
                ::memmem(lowered.data() + from, size - from, anchor.data(), anchor.size());
            if (!hit)
                break;
            const std::size_t at = std::size_t(static_cast<const char *>(hit) - lowered.data());
            const std::size_t previousLf = lowered.rfind('\n', at);
            const std::size_t lineStart = previousLf == std::string::npos ? 0 : previousLf + 1;
            const std::size_t lf = lowered.find('\n', at);
            const std::size_t lineEnd = lf == std::string::npos ? size : lf + 1;
            const std::string_view line(lowered.data() + lineStart,
                                        (lf == std::string::npos ? size : lf) - lineStart);
            if (line.size() <= LongestVolatileLine &&
                std::any_of(std::begin(Phrasings), std::end(Phrasings),
                            [&](std::string_view phrase) {
                                return line.find(phrase) != std::string_view::npos;
                            }))
                cut.emplace_back(lineStart, lineEnd);
            from = lineEnd;
        }
    }
    std::sort(cut.begin(), cut.end());
    std::size_t keptFrom = 0;
    for (const auto &[start, end] : cut) {
        if (start > keptFrom)
            keep(begin + keptFrom, begin + start);
        keptFrom = std::max(keptFrom, end);
    }
    if (size > keptFrom)
        keep(begin + keptFrom, begin + size);
}

} // namespace

namespace VolatileLines {

bool isVolatile(QByteArrayView line)
{
    if (line.size() > qsizetype(LongestVolatileLine))
        return false;
    char buffer[LongestVolatileLine];
    const std::size_t n = std::size_t(line.size());
    std::transform(line.begin(), line.end(), buffer, lower);
    const std::string_view lowered(buffer, n);
    return std::any_of(std::begin(Phrasings), std::end(Phrasings), [&](std::string_view phrase) {
        return lowered.find(phrase) != std::string_view::npos;
    });
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
