#pragma once

#include <QLatin1StringView>
#include <QStringView>

#include <bit>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Caseless comparison of record text with ASCII phrases. Labels and phrases of whois answers are
// ASCII; Qt's caseless search folds every character through Unicode's tables, which costs
// several times more than the search itself on long notice lines.

inline char16_t asciiLower(char16_t u)
{
    return u >= 'A' && u <= 'Z' ? char16_t(u - 'A' + 'a') : u;
}

// Whether `text` equals `latin1` without letter case exactly as Qt compares them (Unicode's
// folding, one UTF-16 unit against one character), so texts of other lengths never do. Most
// compared names differ in length (a host against a table of hosts): that is checked first, as
// Qt's comparison folds every character through its tables.
inline bool equalsCaseless(QStringView text, QLatin1StringView latin1)
{
    return text.size() == latin1.size() && text.compare(latin1, Qt::CaseInsensitive) == 0;
}

// Whether `text` starts with `lower` (ASCII, lower case), ASCII letters compared without case.
inline bool startsWithCaseless(QStringView text, std::string_view lower)
{
    if (text.size() < qsizetype(lower.size()))
        return false;
    for (size_t i = 0; i < lower.size(); ++i) {
        if (asciiLower(text[qsizetype(i)].unicode()) != char16_t(lower[i]))
            return false;
    }
    return true;
}

// Where `lower` (ASCII, lower case, not empty) first occurs in `text` at or after `from`, ASCII
// letters compared without case; -1 when nowhere. Eight places at a time are checked for the
// first letter in either case; only those are compared in full.
inline qsizetype indexOfCaseless(QStringView text, std::string_view lower, qsizetype from = 0)
{
    const char16_t first = char16_t(lower.front());
    const char16_t firstUpper = first >= 'a' && first <= 'z' ? char16_t(first - 'a' + 'A') : first;
    const qsizetype last = text.size() - qsizetype(lower.size());
    const char16_t *const data = text.utf16();
    qsizetype i = qMax<qsizetype>(from, 0);
#ifdef __SSE2__
    const __m128i lowerFirst = _mm_set1_epi16(short(first));
    const __m128i upperFirst = _mm_set1_epi16(short(firstUpper));
    // Eight places from i, each a place the phrase may start at (i + 7 <= last).
    for (; i + 7 <= last; i += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        unsigned mask = unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi16(chunk, lowerFirst), _mm_cmpeq_epi16(chunk, upperFirst))));
        // Two bits a character.
        for (; mask != 0; mask &= mask - 1, mask &= mask - 1) {
            const qsizetype at = i + std::countr_zero(mask) / 2;
            if (startsWithCaseless(text.sliced(at), lower))
                return at;
        }
    }
#endif
    for (; i <= last; ++i) {
        const char16_t u = data[i];
        if ((u == first || u == firstUpper) && startsWithCaseless(text.sliced(i), lower))
            return i;
    }
    return -1;
}
