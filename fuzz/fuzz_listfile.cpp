// Reading a list file into the address list: lines end at CR LF, CR or LF, bytes are UTF-8,
// or UTF-16 behind its byte-order mark.
// The first input byte sets how many bytes a read hands out; the rest is the file.

#include "addresses/listfile.h"
#include "addresses/listviewmodel.h"
#include "fuzzcheck.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The list-file reader's sink that appends each batch to a list model.
inline ListFile::LineSink into(ListViewModel &list)
{
    return [&list](PackedLines &&batch) { list.addItems(std::move(batch)); };
}

namespace {

// Hands out at most `chunk` bytes per read, so characters and CR LF pairs get split between
// two reads.
class TrickleDevice : public QIODevice
{
public:
    TrickleDevice(const QByteArray &data, qint64 chunk) : m_data(data), m_chunk(chunk)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = std::min({max, m_chunk, qint64(m_data.size()) - m_pos});
        std::memcpy(out, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_chunk;
    qint64 m_pos = 0;
};

QStringList entries(const ListViewModel &list)
{
    QStringList texts;
    for (int i = 1; i <= list.itemCount(); ++i)
        texts.append(list.itemText(i));
    return texts;
}

// The whole file decoded in one piece. UTF-16 behind a UTF-16 byte-order mark (the mark
// dropped, an odd last byte one replacement character, surrogate halves without their partner
// replacement characters); otherwise UTF-8 (a byte-order mark at the start dropped, a sequence
// cut off by the end one replacement character).
class WholeDecoder : public QStringDecoder
{
public:
    explicit WholeDecoder(Encoding encoding)
        : QStringDecoder(encoding, encoding == Utf8 ? Flag::Default : Flag::ConvertInitialBom)
    {
    }
    QString all(QByteArrayView bytes)
    {
        QString text = decode(bytes);
        if (state.remainingChars != 0)
            text += QChar::ReplacementCharacter;
        return text;
    }
};

QString pairedSurrogatesOnly(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

QString wholeText(const QByteArray &file)
{
    if (file.startsWith("\xFF\xFE"))
        return pairedSurrogatesOnly(WholeDecoder(QStringConverter::Utf16LE).all(file.sliced(2)));
    if (file.startsWith("\xFE\xFF"))
        return pairedSurrogatesOnly(WholeDecoder(QStringConverter::Utf16BE).all(file.sliced(2)));
    return WholeDecoder(QStringConverter::Utf8).all(file);
}

QStringList expectedLines(const QByteArray &file)
{
    const QString text = wholeText(file);
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.sliced(start));
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qint64 chunk = 1 + data[0] % 32;
    const QByteArray file(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QStringList expected = expectedLines(file);

    QByteArray bytes = file;
    QBuffer buffer(&bytes);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    ListViewModel list(true);
    list.addItem(QStringLiteral("already.listed"));
    const qsizetype added = ListFile::appendLines(into(list), buffer);
    FUZZ_CHECK_EQUAL(added, expected.size());
    FUZZ_CHECK_EQUAL(list.itemCount(), 1 + int(added));
    QStringList read = entries(list);
    FUZZ_CHECK_EQUAL(read.takeFirst(), QStringLiteral("already.listed"));
    for (const QString &entry : read)
        FUZZ_CHECK(!entry.contains(u'\r') && !entry.contains(u'\n'));
    FUZZ_CHECK_EQUAL(read, expected);

    TrickleDevice trickle(file, chunk);
    ListViewModel trickled;
    FUZZ_CHECK_EQUAL(ListFile::appendLines(into(trickled), trickle), added);
    FUZZ_CHECK_EQUAL(entries(trickled), expected);
    return 0;
}
