// Page decoding: the input's first line is the Content-Type header, the rest is the body.

#include "fuzzcheck.h"
#include "web/pagetext.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QByteArray header = newline < 0 ? QByteArray() : input.first(newline);
    const QByteArray body = newline < 0 ? input : input.sliced(newline + 1);

    const QString text = DecodePage(body, header);
    // No decoder here makes more than two UTF-16 units of one byte.
    FUZZ_CHECK(text.size() <= 2 * body.size() + 4);
    if (body.startsWith("\xEF\xBB\xBF"))
        FUZZ_CHECK_EQUAL(text, QString::fromUtf8(body.sliced(3)));
    if (body.startsWith("\xFE\xFF") || body.startsWith("\xFF\xFE"))
        FUZZ_CHECK_EQUAL(text.size(), (body.size() - 2 + 1) / 2);

    // An encoding name is one of its own labels.
    const QByteArray encoding = EncodingForLabel(header);
    if (!encoding.isEmpty())
        FUZZ_CHECK_EQUAL(EncodingForLabel(encoding), encoding);

    // A bare label as the header's charset reads the page as the encoding's own name does.
    if (!encoding.isEmpty()) {
        const QByteArray byLabel = "text/html; charset=" + header;
        const QByteArray byName = "text/html; charset=\"" + encoding + '"';
        FUZZ_CHECK_EQUAL(DecodePage(body, byLabel), DecodePage(body, byName));
    }
    return 0;
}
