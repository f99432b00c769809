#include "whois/whoistext.h"

#include <QList>
#include <QStringDecoder>

#include <array>

namespace WhoisText {

namespace {

// How servers begin the line that says they have no record; compared with the start of each
// line, ignoring case and leading white space and comment marks.
constexpr std::array noMatchOpenings{
    "no match for",
    "no match!!",
    "not found",
    "no data found",
    "no entries found",
    "domain not found",
    "no matching record",
    "no object found",
    "the queried object does not exist",
    "%error:101: no entries found",
    "error:101: no entries found",
};

} // namespace

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

bool saysNoMatch(const QString &text)
{
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        while (line.startsWith(u'#') || (line.startsWith(u'%') && !line.startsWith(u"%ERROR")))
            line = line.mid(1).trimmed();
        for (const char *opening : noMatchOpenings) {
            if (line.startsWith(QLatin1String(opening), Qt::CaseInsensitive))
                return true;
        }
    }
    return false;
}

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

} // namespace WhoisText
