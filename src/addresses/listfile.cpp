#include "addresses/listfile.h"

#include "platform/dialogs.h"
#include "platform/fileexists.h"
#include "platform/runtimeerror.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <bit>
#include <cstring>
#include <memory>
#include <utility>

namespace {

// A UTF-8 list checked block by block and handed on as valid UTF-8: a character split between
// two reads comes through whole, a byte-order mark at the start is dropped, and invalid bytes
// become U+FFFD as QStringDecoder makes them. A block of valid UTF-8 (nearly every block) is
// handed on as it is; only a block with invalid bytes is decoded and encoded again. A sequence
// cut off by the end of the file becomes one replacement character instead of vanishing.
//
// The bytes of a sequence that a block leaves unfinished are held back and checked with the
// next block: QStringDecoder (Qt 6.4), handed the rest of a sequence in a later call, drops
// the first byte of that call when it does not continue the sequence. So the decoder never
// carries a partial sequence from one call to the next, and the text is exactly that of the
// whole file decoded at once. The decoder keeps a byte-order mark (ConvertInitialBom): it
// would drop one at the start of any call until it has decoded a character, not only at the
// file's start; the mark at the file's start is dropped here instead.
class Utf8Stream
{
public:
    // The block's text, valid until the next call.
    QByteArrayView text(QByteArrayView block)
    {
        QByteArrayView bytes = block;
        if (!m_held.isEmpty()) {
            m_joined = m_held + block;
            bytes = m_joined;
        }
        if (m_atStart) {
            const QByteArrayView bom("\xEF\xBB\xBF");
            if (bytes.size() < bom.size() && bom.startsWith(bytes)) {
                m_held = bytes.toByteArray();
                return {};
            }
            m_atStart = false;
            if (bytes.startsWith(bom))
                bytes = bytes.sliced(bom.size());
        }
        const qsizetype whole = bytes.size() - unfinishedTail(bytes);
        m_held = bytes.sliced(whole).toByteArray();
        const QByteArrayView complete = bytes.first(whole);
        if (complete.isValidUtf8())
            return complete;
        QString decoded = m_decoder.decode(complete);
        if (m_decoder.state.remainingChars != 0) {
            // A sequence left open just before the held-back lead byte, which cuts it short:
            // one replacement character per byte, as in the file decoded at once.
            decoded += QString(m_decoder.state.remainingChars, QChar::ReplacementCharacter);
            m_decoder.state.remainingChars = 0;
        }
        m_converted = decoded.toUtf8();
        return m_converted;
    }

    QByteArrayView finish()
    {
        QString decoded;
        if (!m_held.isEmpty())
            decoded = m_decoder.decode(m_held);
        m_held.clear();
        if (m_decoder.state.remainingChars != 0) {
            m_decoder.resetState();
            decoded += QChar::ReplacementCharacter;
        }
        m_converted = decoded.toUtf8();
        return m_converted;
    }

private:
    // The decoder's state is reachable only from a subclass.
    struct Decoder : QStringDecoder
    {
        Decoder()
            : QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom)
        {
        }
        using QStringDecoder::state;
    };

    // How many bytes at the end form a multi-byte sequence that is not complete yet: a lead
    // byte followed by fewer continuation bytes than it announces.
    static qsizetype unfinishedTail(QByteArrayView bytes)
    {
        for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
            const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
            if ((c & 0xC0) == 0x80)
                continue; // a continuation byte: look further back for the lead
            const int length = c >= 0xF0 && c <= 0xF7 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            return c <= 0xF7 && back < length ? back : 0;
        }
        return 0;
    }

    Decoder m_decoder;
    QByteArray m_held;
    QByteArray m_joined;
    QByteArray m_converted;
    bool m_atStart = true;
};

// UTF-16 in one byte order, decoded block by block; the byte-order mark is already gone. A
// byte left over at the end of a block waits in the decoder for its partner. Surrogate halves
// that do not form a pair become replacement characters, so every entry is valid text; a high
// half at the end of a block waits for the next block's low half.
class Utf16StreamDecoder : public QStringDecoder
{
public:
    explicit Utf16StreamDecoder(QStringConverter::Encoding encoding)
        : QStringDecoder(encoding, QStringConverter::Flag::ConvertInitialBom)
    {
    }

    QString decodeBlock(QByteArrayView bytes) { return paired(decode(bytes), false); }

    QString finish()
    {
        QString text = paired(QString(), true);
        if (state.remainingChars != 0) {
            // An odd byte at the very end: one replacement character, as a cut-off UTF-8
            // sequence gives.
            resetState();
            text += QChar::ReplacementCharacter;
        }
        return text;
    }

private:
    QString paired(QString text, bool atEnd)
    {
        if (m_high != 0) {
            text.prepend(QChar(m_high));
            m_high = 0;
        }
        const qsizetype n = text.size();
        for (qsizetype i = 0; i < n; ++i) {
            const QChar c = text[i];
            if (c.isHighSurrogate()) {
                if (i + 1 < n && text[i + 1].isLowSurrogate()) {
                    ++i;
                } else if (i + 1 == n && !atEnd) {
                    m_high = c.unicode();
                    text.chop(1);
                } else {
                    text[i] = QChar::ReplacementCharacter;
                }
            } else if (c.isLowSurrogate()) {
                text[i] = QChar::ReplacementCharacter;
            }
        }
        return text;
    }

    char16_t m_high = 0;
};

// The list file's text as UTF-8: the file is UTF-16 when it starts with a UTF-16 byte-order
// mark (either byte order; the mark is dropped), UTF-8 otherwise. The first two bytes are held
// until they have come, however small the reads. What it returns is valid until the next call.
class ListDecoder
{
public:
    QByteArrayView text(QByteArrayView block)
    {
        if (m_decided)
            return decoded(block);
        m_head.append(block);
        if (m_head.size() < 2)
            return {};
        decide();
        m_headBlock = std::exchange(m_head, QByteArray());
        return decoded(m_utf16 ? QByteArrayView(m_headBlock).sliced(2)
                               : QByteArrayView(m_headBlock));
    }

    QByteArrayView finish()
    {
        if (!m_decided) {
            decide();
            m_headBlock = std::exchange(m_head, QByteArray());
            m_text = m_utf16 ? QByteArray() : m_utf8.text(m_headBlock).toByteArray();
        } else {
            m_text.clear();
        }
        if (m_utf16)
            m_text += m_utf16->finish().toUtf8();
        else
            m_text += m_utf8.finish();
        return m_text;
    }

private:
    void decide()
    {
        m_decided = true;
        const QByteArrayView head(m_head);
        if (head.startsWith("\xFF\xFE"))
            m_utf16 = std::make_unique<Utf16StreamDecoder>(QStringConverter::Utf16LE);
        else if (head.startsWith("\xFE\xFF"))
            m_utf16 = std::make_unique<Utf16StreamDecoder>(QStringConverter::Utf16BE);
    }

    QByteArrayView decoded(QByteArrayView bytes)
    {
        if (!m_utf16)
            return m_utf8.text(bytes);
        m_text = m_utf16->decodeBlock(bytes).toUtf8();
        return m_text;
    }

    bool m_decided = false;
    QByteArray m_head;
    QByteArray m_headBlock;
    QByteArray m_text;
    Utf8Stream m_utf8;
    std::unique_ptr<Utf16StreamDecoder> m_utf16;
};

// Cuts UTF-8 text into lines at CR LF, CR or LF; a line may span several pieces of text, and
// a CR LF pair may be split between two. Line ends are ASCII, so they are never part of a
// multi-byte character.
class LineSplitter
{
    // Where the first CR or LF of the n bytes at p is, or n: eight bytes at a time, since
    // nearly every byte of a list is neither.
    static qsizetype lineEndIn(const char *p, qsizetype n)
    {
        constexpr quint64 ones = 0x0101010101010101u;
        constexpr quint64 highs = 0x8080808080808080u;
        qsizetype i = 0;
        for (; i + 8 <= n; i += 8) {
            quint64 word;
            std::memcpy(&word, p + i, 8);
            const quint64 lf = word ^ (ones * '\n');
            const quint64 cr = word ^ (ones * '\r');
            // A byte becomes zero where it matched; the lowest flagged byte is exact.
            const quint64 hit = (((lf - ones) & ~lf) | ((cr - ones) & ~cr)) & highs;
            if (hit != 0)
                return i + std::countr_zero(qFromLittleEndian(hit)) / 8;
        }
        for (; i < n; ++i) {
            if (p[i] == '\n' || p[i] == '\r')
                return i;
        }
        return n;
    }

public:
    void feed(QByteArrayView text, PackedLines &lines)
    {
        const char *d = text.data();
        const qsizetype n = text.size();
        qsizetype i = 0;
        if (m_afterCR && n > 0) {
            m_afterCR = false;
            if (d[0] == '\n')
                i = 1;
        }
        qsizetype start = i;
        while ((i += lineEndIn(d + i, n - i)) < n) {
            if (m_partial.isEmpty()) {
                lines.append(QByteArrayView(d + start, i - start));
            } else {
                m_partial.append(d + start, i - start);
                lines.append(QByteArrayView(m_partial));
                m_partial.clear();
            }
            if (d[i] == '\r') {
                if (i + 1 < n) {
                    if (d[i + 1] == '\n')
                        ++i;
                } else {
                    m_afterCR = true;
                }
            }
            start = ++i;
        }
        m_partial.append(d + start, n - start);
    }

    // The last line when the text does not end with a line end.
    void finish(PackedLines &lines)
    {
        if (!m_partial.isEmpty())
            lines.append(QByteArrayView(m_partial));
        m_partial.clear();
    }

private:
    QByteArray m_partial;
    bool m_afterCR = false;
};

} // namespace

namespace ListFile {

struct LineReader::Private
{
    ListDecoder decoder;
    LineSplitter splitter;
    PackedLines lines;
    qsizetype taken = 0; // lines at the front of `lines` already handed out
    bool finished = false;
};

LineReader::LineReader() : d(std::make_unique<Private>())
{
}

LineReader::~LineReader() = default;

void LineReader::feed(QByteArrayView bytes)
{
    if (d->finished || bytes.isEmpty())
        return;
    d->splitter.feed(d->decoder.text(bytes), d->lines);
}

void LineReader::finish()
{
    if (d->finished)
        return;
    d->splitter.feed(d->decoder.finish(), d->lines);
    d->splitter.finish(d->lines);
    d->finished = true;
}

bool LineReader::readBlock(QIODevice &device)
{
    if (d->finished)
        return false;
    QByteArray block(BlockSize, Qt::Uninitialized);
    const qint64 n = device.read(block.data(), BlockSize);
    if (n < 0)
        throw RuntimeError(device.errorString());
    if (n == 0) {
        finish();
        return false;
    }
    feed(QByteArrayView(block.constData(), n));
    return true;
}

QStringList LineReader::readLines(QIODevice &device, qsizetype max)
{
    while (waiting() < max && readBlock(device)) {
    }
    return take(max);
}

QStringList LineReader::take(qsizetype max)
{
    const qsizetype n = std::min(max, waiting());
    if (n <= 0)
        return {};
    const QStringList out = d->lines.texts(d->taken, n);
    d->taken += n;
    // Drop what was handed out once it is most of the list, so the list stays small.
    if (d->taken * 2 >= d->lines.size()) {
        d->lines.remove(0, d->taken);
        d->taken = 0;
    }
    return out;
}

PackedLines LineReader::takeAll()
{
    if (d->taken > 0)
        d->lines.remove(0, std::exchange(d->taken, 0));
    return std::exchange(d->lines, PackedLines());
}

qsizetype LineReader::waiting() const
{
    return d->lines.size() - d->taken;
}

bool LineReader::finished() const
{
    return d->finished;
}

qsizetype appendLines(const LineSink &sink, QIODevice &device, const StopRequest &stop)
{
    LineReader reader;
    qsizetype added = 0;
    const auto flush = [&] {
        PackedLines batch = reader.takeAll();
        if (batch.isEmpty())
            return;
        added += batch.size();
        sink(std::move(batch));
    };

    QElapsedTimer slice;
    slice.start();
    for (;;) {
        bool more = false;
        try {
            more = reader.readBlock(device);
        } catch (const RuntimeError &) {
            flush();
            throw;
        }
        if (!more)
            break;
        // Lines go on in batches of a bounded size, so a batch waiting here never costs much
        // memory beside the list it goes into.
        if (reader.waiting() >= BatchLines)
            flush();
        if (slice.elapsed() >= SliceMs) {
            flush();
            QCoreApplication::processEvents();
            if (stop && stop())
                return added;
            slice.restart();
        }
    }
    flush();
    return added;
}

bool looksBinary(QByteArrayView head)
{
    const QByteArrayView sniffed = head.first(std::min(head.size(), SniffBytes));
    if (sniffed.startsWith("\xFF\xFE") || sniffed.startsWith("\xFE\xFF"))
        return false;
    return sniffed.contains('\0');
}

QString notAListMessage(const QString &path)
{
    return path + QStringLiteral(" is not a list of addresses: it holds binary data (NUL "
                                 "bytes). Nothing of it was added.");
}

} // namespace ListFile

QString NormalizePath(const QString &path)
{
    const QLatin1String doubled("//");
    const QLatin1Char separator('/');
    if (!path.startsWith(separator)) {
        QString result = path;
        return result.replace(doubled, QString(separator));
    }
    qsizetype i = 1;
    while (i < path.size() && path[i] == separator)
        ++i;
    QString rest = path.mid(i);
    return separator + rest.replace(doubled, QString(separator));
}

void FileToListview(const ListFile::LineSink &sink, const QString &path, Dialogs &dialogs,
                    const QString &title, const ListFile::StopRequest &stop)
{
    if (!FileExists(path)) {
        dialogs.message(ListFile::NotFoundMessage, title, Dialogs::Icon::None);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(file.errorString());
    if (ListFile::looksBinary(file.peek(ListFile::SniffBytes))) {
        dialogs.message(ListFile::notAListMessage(path), title, Dialogs::Icon::None);
        return;
    }
    ListFile::appendLines(sink, file, stop);
}
