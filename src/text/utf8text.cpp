#include "text/utf8text.h"

#include <QStringDecoder>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

QString textFromUtf8(QByteArrayView utf8)
{
    if (utf8.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        return decoder(utf8);
    }
    return QString::fromUtf8(utf8);
}

qsizetype widenAscii(QByteArrayView bytes, char16_t *out)
{
    const char *const begin = bytes.data();
    const char *p = begin;
    const char *const end = p + bytes.size();
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 16; p += 16, out += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if (_mm_movemask_epi8(chunk) != 0)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8), _mm_unpackhi_epi8(chunk, zero));
    }
#endif
    for (; p < end && static_cast<unsigned char>(*p) < 0x80; ++p, ++out)
        *out = char16_t(*p);
    return p - begin;
}
