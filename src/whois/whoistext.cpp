#include "whois/whoistext.h"

#include "text/findchar.h"
#include "text/utf8text.h"

#include <QStringDecoder>

#include <cstring>

namespace WhoisText {

QString decode(const QByteArray &bytes)
{
    // The ASCII opening widened at once, the rest (if any) decoded after it: a text of UTF-8
    // never has more UTF-16 units than bytes.
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t *const out = reinterpret_cast<char16_t *>(text.data());
    const qsizetype ascii = widenAscii(bytes, out);
    if (ascii == bytes.size())
        return text;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QByteArrayView rest = QByteArrayView(bytes).sliced(ascii);
    text.resize(ascii + utf8.requiredSpace(rest.size()));
    const QChar *end = utf8.appendToBuffer(text.data() + ascii, rest);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    text.truncate(end - text.constData());
    return text;
}

QStringList lines(const QString &text)
{
    QStringList out = text.split(u'\n');
    for (QString &line : out) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

QString recordText(QStringView text)
{
    // Written through a pointer into a string of the largest size it can take (each LF may
    // gain a CR), then cut: one allocation, no append calls.
    qsizetype lineEnds = 0;
    for (qsizetype at = findChar(text, u'\n'); at >= 0; at = findChar(text, u'\n', at + 1))
        ++lineEnds;
    QString out(text.size() + lineEnds, Qt::Uninitialized);
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    char16_t *o = begin;
    char16_t *keep = begin; // the end of the last line that is not empty
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = findChar(text, u'\n', start);
        QStringView line = text.sliced(start, (end < 0 ? text.size() : end) - start);
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (start > 0) {
            *o++ = u'\r';
            *o++ = u'\n';
        }
        if (!line.isEmpty()) {
            std::memcpy(o, line.utf16(), size_t(line.size()) * sizeof(char16_t));
            o += line.size();
            keep = o;
        }
        if (end < 0)
            break;
        start = end + 1;
    }
    out.truncate(keep - begin);
    return out;
}

bool isBlank(const QString &text)
{
    // As trimmed() would find it, without the copy.
    for (QChar c : text) {
        if (!c.isSpace())
            return false;
    }
    return true;
}

} // namespace WhoisText
