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
// The sixteen bytes at `at` with their case bit set: ASCII letters in lower case (other bytes
// may match a letter so too, and are told apart by the full comparison).
__m128i loweredBlock(const char *text, std::size_t at)
{
    return _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at)),
                        _mm_set1_epi8(0x20));
}

// Bits of the places where the anchor's character at `offset` stands.
template <std::size_t A, std::size_t Offset> __m128i anchorCharacter(const char *text)
{
    return _mm_cmpeq_epi8(loweredBlock(text, Offset), _mm_set1_epi8(Anchors[A][Offset]));
}

// Bit i (one byte a place): the anchor's first, second and last characters stand where it would
// begin at `i`. Few places of a record pass this; those are compared in full.
template <std::size_t A> __m128i anchorCandidates(const char *text)
{
    return _mm_and_si128(_mm_and_si128(anchorCharacter<A, 0>(text), anchorCharacter<A, 1>(text)),
                         anchorCharacter<A, Anchors[A].size() - 1>(text));
}
#endif

// Finds every anchor in the text and looks at the lines around them. Sixteen positions at a
// time, all anchors at once: where an anchor's first, second and last characters stand, it is
// compared in full.
void findVolatileLines(const char *text, std::size_t size, std::vector<LineRange> &lines)
{
    constexpr std::size_t AnchorCount = std::size(Anchors);
#if defined(__SSE2__)
    constexpr std::size_t Longest = 12; // "retrieved at"
    // Looks at the sixteen places from `at` of `bytes`, which holds the text's bytes from `at`
    // on and at least Longest more after the sixteenth.
    const auto lookAtBlock = [&](const char *bytes, std::size_t at) {
        const __m128i candidates[] = {anchorCandidates<0>(bytes), anchorCandidates<1>(bytes),
                                      anchorCandidates<2>(bytes), anchorCandidates<3>(bytes),
                                      anchorCandidates<4>(bytes), anchorCandidates<5>(bytes)};
        static_assert(std::size(candidates) == AnchorCount);
        __m128i any = candidates[0];
        for (std::size_t a = 1; a < AnchorCount; ++a)
            any = _mm_or_si128(any, candidates[a]);
        if (_mm_movemask_epi8(any) == 0)
            return;
        for (std::size_t a = 0; a < AnchorCount; ++a) {
            for (unsigned mask = unsigned(_mm_movemask_epi8(candidates[a])); mask != 0;
                 mask &= mask - 1) {
                const std::size_t i = std::size_t(__builtin_ctz(mask));
                if (at + i + Anchors[a].size() <= size && lowerEquals(bytes + i, Anchors[a]))
                    lookAround(text, size, at + i, a, lines);
            }
        }
    };
    std::size_t at = 0;
    for (; at + 16 + Longest <= size; at += 16)
        lookAtBlock(text + at, at);
    // The last bytes are looked at in a copy padded with zero bytes (an anchor found is
    // taken only when it ends within the text).
    for (; at < size; at += 16) {
        char tail[16 + Longest] = {};
        std::memcpy(tail, text + at, std::min(size - at, sizeof tail));
        lookAtBlock(tail, at);
    }
#else
    for (std::size_t at = 0; at < size; ++at) {
        for (std::size_t a = 0; a < AnchorCount; ++a) {
            if (at + Anchors[a].size() <= size && lowerEquals(text + at, Anchors[a]))
                lookAround(text, size, at, a, lines);
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
