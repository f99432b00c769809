#include "whois/whoistext.h"

#include <QStringDecoder>

namespace WhoisText {

QString decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
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
    QString out;
    out.reserve(text.size() + text.size() / 16 + 2);
    qsizetype keep = 0; // the end of the last line that is not empty
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = text.indexOf(QChar(u'\n'), start);
        QStringView line = text.sliced(start, (end < 0 ? text.size() : end) - start);
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (start > 0)
            out += u"\r\n";
        out += line;
        if (!line.isEmpty())
            keep = out.size();
        if (end < 0)
            break;
        start = end + 1;
    }
    out.truncate(keep);
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
