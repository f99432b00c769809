#pragma once

#include <QStringView>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Writes text's characters to `out` as bytes (room for text.size() of them), eight at a time;
// false, with `out` partly written, when a character is beyond ASCII. ASCII text is its own
// UTF-8, and most of a record is ASCII: this spares a pass to check it and a conversion after.
inline bool narrowAscii(QStringView text, char *out)
{
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
#ifdef __SSE2__
    const __m128i beyondAscii = _mm_set1_epi16(short(0xff80));
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 8; p += 8, out += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(chunk, beyondAscii), zero)) != 0xffff)
            return false;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(chunk, chunk));
    }
#endif
    for (; p < end; ++p, ++out) {
        if (*p >= 0x80)
            return false;
        *out = char(*p);
    }
    return true;
}
