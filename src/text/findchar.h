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
