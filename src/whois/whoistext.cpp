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

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

} // namespace WhoisText
