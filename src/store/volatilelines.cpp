#include "store/volatilelines.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    "update", "quer", "timestamp", "generated", "lookup made at", "retrieved at",
};

// Where a pair of letters rare together in records stands in each anchor: a text is searched
// for these pairs, and an anchor is compared in full only where its pair stands.
constexpr unsigned char PairOffsets[std::size(Anchors)] = {
    1, // "update": "pd"
    0, // "quer": "qu"
    7, // "timestamp": "mp"
    0, // "generated": "ge"
    2, // "lookup made at": "ku"
    5, // "retrieved at": "ev"
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

// For each anchor, the phrasings that hold it (bit k: Phrasings[k]).
constexpr std::array<unsigned, std::size(Anchors)> PhrasingsOfAnchor = [] {
    std::array<unsigned, std::size(Anchors)> masks{};
    for (std::size_t k = 0; k < std::size(Phrasings); ++k) {
        bool held = false;
        for (std::size_t a = 0; a < std::size(Anchors); ++a) {
            if (Phrasings[k].find(Anchors[a]) != std::string_view::npos) {
                masks[a] |= 1u << k;
                held = true;
            }
        }
        // Every phrasing must hold an anchor, or lines holding it would never be looked at.
        if (!held)
            throw "a phrasing without an anchor";
    }
    return masks;
}();

// Where each anchor first begins in each phrasing that holds it: every place a phrasing stands
// in a text is found from the place its anchor stands there.
constexpr auto AnchorOffsets = [] {
    std::array<std::array<unsigned char, std::size(Anchors)>, std::size(Phrasings)> offsets{};
    for (std::size_t k = 0; k < std::size(Phrasings); ++k) {
        for (std::size_t a = 0; a < std::size(Anchors); ++a) {
            const std::size_t at = Phrasings[k].find(Anchors[a]);
            offsets[k][a] = at == std::string_view::npos ? 0 : static_cast<unsigned char>(at);
        }
    }
    return offsets;
}();

// Whether a line (at most LongestVolatileLine bytes) holds a phrasing, in any case. The anchors
// are looked for first (most lines hold none), then only the phrasings holding those found.
bool holdsPhrasing(const char *line, std::size_t n)
{
    char buffer[LongestVolatileLine];
    lowerInto(buffer, line, n);
    const std::string_view lowered(buffer, n);
    unsigned candidates = 0;
    for (std::size_t a = 0; a < std::size(Anchors); ++a) {
        if (lowered.find(Anchors[a]) != std::string_view::npos)
            candidates |= PhrasingsOfAnchor[a];
    }
    for (; candidates != 0; candidates &= candidates - 1) {
        if (lowered.find(Phrasings[std::size_t(__builtin_ctz(candidates))]) !=
            std::string_view::npos)
            return true;
    }
    return false;
}

// Whether `word` (lower case) stands at `at`, in any case.
bool lowerEquals(const char *at, std::string_view word)
{
    for (std::size_t k = 0; k < word.size(); ++k) {
        if (lower(at[k]) != word[k])
            return false;
    }
    return true;
}

// A volatile line: [begin, end) of the text, its LF included.
struct LineRange
{
    std::size_t begin;
    std::size_t end;
};

// Anchor `a` stands at `at`: when a phrasing holding it stands around it, its line (if short
// enough) is noted as volatile, once. Phrasings hold no LF, so one found lies within a line.
void lookAround(const char *text, std::size_t size, std::size_t at, std::size_t a,
                std::vector<LineRange> &lines)
{
    for (const LineRange &line : lines) {
        if (at >= line.begin && at < line.end)
            return;
    }
    bool found = false;
    for (unsigned candidates = PhrasingsOfAnchor[a]; candidates != 0 && !found;
         candidates &= candidates - 1) {
        const std::size_t k = std::size_t(__builtin_ctz(candidates));
        const std::size_t offset = AnchorOffsets[k][a];
        found = at >= offset && at - offset + Phrasings[k].size() <= size &&
                lowerEquals(text + at - offset, Phrasings[k]);
    }
    if (!found)
        return;
    // A line longer than a volatile line can be is passed by.
    const std::size_t back = std::min(at, LongestVolatileLine);
    const char *lf = static_cast<const char *>(memrchr(text + at - back, '\n', back));
    if (!lf && back < at)
        return;
    const std::size_t begin = lf ? std::size_t(lf - text) + 1 : 0;
    const std::size_t ahead = std::min(size - at, LongestVolatileLine + 1 - (at - begin));
    const char *next = static_cast<const char *>(std::memchr(text + at, '\n', ahead));
    const std::size_t lineEnd = next ? std::size_t(next - text) : at + ahead;
    if (lineEnd - begin > LongestVolatileLine || (!next && lineEnd != size))
        return;
    lines.push_back({begin, next ? lineEnd + 1 : lineEnd});
}

#if defined(__SSE2__)
// Bit i (one byte a place): anchor A's pair of letters begins at place i, given the sixteen
// places lowered (`first`) and the sixteen from the next (`second`). The letters are constants.
template <std::size_t A> __m128i pairAt(__m128i first, __m128i second)
{
    constexpr char a = Anchors[A][PairOffsets[A]];
    constexpr char b = Anchors[A][PairOffsets[A] + 1];
    return _mm_and_si128(_mm_cmpeq_epi8(first, _mm_set1_epi8(a)),
                         _mm_cmpeq_epi8(second, _mm_set1_epi8(b)));
}
#endif

// Finds every anchor in the text and looks at the lines around them. Sixteen places at a time,
// all anchors at once: where an anchor's pair of letters stands (in either case), the anchor
// is compared in full from where it would begin.
void findVolatileLines(const char *text, std::size_t size, std::vector<LineRange> &lines)
{
    constexpr std::size_t AnchorCount = std::size(Anchors);
    // The pair of anchor `a` begins at `at`.
    const auto lookAtPair = [&](std::size_t a, std::size_t at) {
        const std::size_t offset = PairOffsets[a];
        if (at < offset)
            return;
        const std::size_t begin = at - offset;
        if (begin + Anchors[a].size() <= size && lowerEquals(text + begin, Anchors[a]))
            lookAround(text, size, begin, a, lines);
    };
#if defined(__SSE2__)
    // The sixteen places from `at` of `bytes`, which holds the text's bytes from `at` on and one
    // more. Upper-case letters get their case bit; no other byte becomes a letter so.
    const auto lookAtBlock = [&](const char *bytes, std::size_t at) {
        const __m128i case20 = _mm_set1_epi8(0x20);
        const __m128i first =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes)), case20);
        const __m128i second =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 1)), case20);
        const __m128i found[] = {pairAt<0>(first, second), pairAt<1>(first, second),
                                 pairAt<2>(first, second), pairAt<3>(first, second),
                                 pairAt<4>(first, second), pairAt<5>(first, second)};
        static_assert(std::size(found) == AnchorCount);
        __m128i any = found[0];
        for (std::size_t a = 1; a < AnchorCount; ++a)
            any = _mm_or_si128(any, found[a]);
        if (_mm_movemask_epi8(any) == 0)
            return;
        for (std::size_t a = 0; a < AnchorCount; ++a) {
            for (unsigned mask = unsigned(_mm_movemask_epi8(found[a])); mask != 0; mask &= mask - 1)
                lookAtPair(a, at + std::size_t(__builtin_ctz(mask)));
        }
    };
    std::size_t at = 0;
    for (; at + 17 <= size; at += 16)
        lookAtBlock(text + at, at);
    for (; at < size; at += 16) {
        // The last bytes in a copy padded with zero bytes, which begin no pair.
        char tail[17] = {};
        std::memcpy(tail, text + at, std::min(size - at, sizeof tail));
        lookAtBlock(tail, at);
    }
#else
    for (std::size_t at = 0; at + 1 < size; ++at) {
        for (std::size_t a = 0; a < AnchorCount; ++a) {
            const char *pair = Anchors[a].data() + PairOffsets[a];
            if (lower(text[at]) == pair[0] && lower(text[at + 1]) == pair[1])
                lookAtPair(a, at);
        }
    }
#endif
}

// Calls `keep(begin, end)` for each stretch of `text` outside the volatile lines, in order. A
// line runs to its LF (a CR before it is part of the line); a cut line takes its LF with it.
template <class Keep> void forEachKeptStretch(QByteArrayView text, Keep &&keep)
{
    const char *const begin = text.data();
    const std::size_t size = std::size_t(text.size());
    std::vector<LineRange> lines;
    findVolatileLines(begin, size, lines);
    std::sort(lines.begin(), lines.end(),
              [](const LineRange &a, const LineRange &b) { return a.begin < b.begin; });
    std::size_t keptFrom = 0;
    for (const LineRange &line : lines) {
        if (line.begin > keptFrom)
            keep(begin + keptFrom, begin + line.begin);
        keptFrom = std::max(keptFrom, line.end);
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
