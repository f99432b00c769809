#include "addresses/listfile.h"

#include "platform/dialogs.h"
#include "platform/fileexists.h"
#include "platform/runtimeerror.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringDecoder>

#include <memory>
#include <utility>

namespace {

// UTF-8 decoder kept across blocks, so a character split between two reads comes through
// whole. It drops a byte-order mark at the start. A sequence cut off by the end of the file
// becomes one replacement character instead of vanishing.
//
// The bytes of a sequence that a block leaves unfinished are held back and decoded with the
// next block: QStringDecoder (Qt 6.4), handed the rest of a sequence in a later call, drops
// the first byte of that call when it does not continue the sequence. So the decoder never
// carries a partial sequence from one call to the next, and the text is exactly that of the
// whole file decoded at once. The byte-order mark is dropped here too: the decoder would drop
// one at the start of any call until it has decoded a character, not only at the file's start.
class StreamDecoder : public QStringDecoder
{
public:
    StreamDecoder()
        : QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom)
    {
    }

    QString decodeBlock(QByteArrayView block)
    {
        QByteArrayView bytes = block;
        if (!m_held.isEmpty()) {
            m_held.append(block);
            bytes = m_held;
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
        const qsizetype tail = unfinishedTail(bytes);
        const qsizetype whole = bytes.size() - tail;
        QString text = whole > 0 ? decode(bytes.first(whole)) : QString();
        if (state.remainingChars != 0) {
            // A sequence left open just before the held-back lead byte, which cuts it short:
            // one replacement character per byte, as in the file decoded at once.
            text += QString(state.remainingChars, QChar::ReplacementCharacter);
            state.remainingChars = 0;
        }
        m_held = bytes.sliced(whole).toByteArray();
        return text;
    }

    QString finish()
    {
        QString text;
        if (!m_held.isEmpty())
            text = decode(m_held);
        m_held.clear();
        if (state.remainingChars != 0) {
            resetState();
            text += QChar::ReplacementCharacter;
        }
        return text;
    }

private:
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

    QByteArray m_held;
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

// The list file's text: UTF-16 when the file starts with a UTF-16 byte-order mark (either byte
// order; the mark is dropped), UTF-8 otherwise. The first two bytes are held until they have
// come, however small the reads.
class ListDecoder
{
public:
    QString decodeBlock(QByteArrayView block)
    {
        if (m_decided)
            return decoded(block);
        m_head.append(block);
        if (m_head.size() < 2)
            return {};
        decide();
        const QByteArray head = std::exchange(m_head, QByteArray());
        return decoded(m_utf16 ? QByteArrayView(head).sliced(2) : QByteArrayView(head));
    }

    QString finish()
    {
        QString text;
        if (!m_decided) {
            decide();
            text = decoded(m_head);
            m_head.clear();
        }
        return text + (m_utf16 ? m_utf16->finish() : m_utf8.finish());
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

    QString decoded(QByteArrayView bytes)
    {
        return m_utf16 ? m_utf16->decodeBlock(bytes) : m_utf8.decodeBlock(bytes);
    }

    bool m_decided = false;
    QByteArray m_head;
    StreamDecoder m_utf8;
    std::unique_ptr<Utf16StreamDecoder> m_utf16;
};

// Cuts decoded text into lines at CR LF, CR or LF; a line may span several pieces of text,
// and a CR LF pair may be split between two.
class LineSplitter
{
public:
    void feed(QStringView text, QStringList &lines)
    {
        const QChar *d = text.data();
        const qsizetype n = text.size();
        qsizetype i = 0;
        if (m_afterCR && n > 0) {
            m_afterCR = false;
            if (d[0] == u'\n')
                i = 1;
        }
        qsizetype start = i;
        for (; i < n; ++i) {
            const char16_t c = d[i].unicode();
            if (c != u'\n' && c != u'\r')
                continue;
            if (m_partial.isEmpty()) {
                lines.append(text.sliced(start, i - start).toString());
            } else {
                m_partial.append(text.sliced(start, i - start));
                lines.append(m_partial);
                m_partial.clear();
            }
            if (c == u'\r') {
                if (i + 1 < n) {
                    if (d[i + 1] == u'\n')
                        ++i;
                } else {
                    m_afterCR = true;
                }
            }
            start = i + 1;
        }
        m_partial.append(text.sliced(start));
    }

    // The last line when the text does not end with a line end.
    void finish(QStringList &lines)
    {
        if (!m_partial.isEmpty())
            lines.append(m_partial);
        m_partial.clear();
    }

private:
    QString m_partial;
    bool m_afterCR = false;
};

} // namespace

namespace ListFile {

struct LineReader::Private
{
    ListDecoder decoder;
    LineSplitter splitter;
    QStringList lines;
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
    const QString text = d->decoder.decodeBlock(bytes);
    d->splitter.feed(text, d->lines);
}

void LineReader::finish()
{
    if (d->finished)
        return;
    const QString cutOff = d->decoder.finish();
    d->splitter.feed(cutOff, d->lines);
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
    if (d->taken == 0 && n == d->lines.size())
        return std::exchange(d->lines, QStringList());
    QStringList out = d->lines.mid(d->taken, n);
    d->taken += n;
    // Drop what was handed out once it is most of the list, so the list stays small.
    if (d->taken * 2 >= d->lines.size()) {
        d->lines.remove(0, d->taken);
        d->taken = 0;
    }
    return out;
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
        const QStringList batch = reader.take(reader.waiting());
        if (batch.isEmpty())
            return;
        sink(batch);
        added += batch.size();
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
