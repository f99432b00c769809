#pragma once

#include <QStringView>

#include <bit>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Where `c` first occurs in `text` at or after `from`; -1 when nowhere. Records are cut into
// lines hundreds of times an answer, and Qt's QStringView::indexOf(QChar) goes through its
// general string search before the character search: that call cost more than the search
// itself on a line of a few dozen characters.
inline qsizetype findChar(QStringView text, char16_t c, qsizetype from = 0)
{
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *p = begin + qBound<qsizetype>(0, from, text.size());
#ifdef __SSE2__
    const __m128i needle = _mm_set1_epi16(short(c));
    for (; end - p >= 8; p += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(chunk, needle)));
        if (mask != 0)
            return (p - begin) + std::countr_zero(mask) / 2;
    }
#endif
    for (; p < end; ++p) {
        if (*p == c)
            return p - begin;
    }
    return -1;
}

// Where any of the characters `Cs` first occurs in `text`; -1 when none does. One pass, eight
// characters at a time, where a loop comparing each character with each of them cost a record's
// label search more than the rest of reading its line.
template <char16_t... Cs> qsizetype findAnyOf(QStringView text)
{
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *p = begin;
#ifdef __SSE2__
    for (; end - p >= 8; p += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i hits = _mm_setzero_si128();
        ((hits = _mm_or_si128(hits, _mm_cmpeq_epi16(chunk, _mm_set1_epi16(short(Cs))))), ...);
        const unsigned mask = unsigned(_mm_movemask_epi8(hits));
        if (mask != 0)
            return (p - begin) + std::countr_zero(mask) / 2;
    }
#endif
    for (; p < end; ++p) {
        if (((*p == Cs) || ...))
            return p - begin;
    }
    return -1;
}

// Where a tab, or the first of two spaces in a row, first stands in `text`; -1 when nowhere. The
// gap between a label and its value in records laid out as a table.
inline qsizetype findTabOrTwoSpaces(QStringView text)
{
    const char16_t *const begin = text.utf16();
    const char16_t *const end = begin + text.size();
    const char16_t *p = begin;
#ifdef __SSE2__
    const __m128i tab = _mm_set1_epi16(u'\t');
    const __m128i space = _mm_set1_epi16(u' ');
    for (; end - p >= 9; p += 8) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
        const __m128i hits =
            _mm_or_si128(_mm_cmpeq_epi16(here, tab),
                         _mm_and_si128(_mm_cmpeq_epi16(here, space), _mm_cmpeq_epi16(next, space)));
        const unsigned mask = unsigned(_mm_movemask_epi8(hits));
        if (mask != 0)
            return (p - begin) + std::countr_zero(mask) / 2;
    }
#endif
    for (; p < end; ++p) {
        if (*p == u'\t' || (*p == u' ' && end - p > 1 && p[1] == u' '))
            return p - begin;
    }
    return -1;
}
