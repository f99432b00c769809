#include "lookup/recordlines.h"

namespace {

QString withoutEndSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin).toString();
}

} // namespace

QStringList SplitRecordLines(const QString &record)
{
    QStringList lines;
    if (record.isEmpty())
        return lines;
    const QStringView text(record);
    qsizetype start = 0;
    for (;;) {
        const qsizetype pair = text.indexOf(u"\r\n", start);
        if (pair < 0)
            break;
        lines.append(text.sliced(start, pair - start).toString());
        start = pair + 2;
    }
    lines.append(text.sliced(start).toString());
    return lines;
}

std::optional<RecordField> ParseRecordLine(const QString &line)
{
    if (line.isEmpty())
        return std::nullopt;
    if (line.front() == u'#' || line.front() == u'%')
        return std::nullopt;
    const qsizetype colon = line.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    const QStringView text(line);
    return RecordField{withoutEndSpaces(text.first(colon)),
                       withoutEndSpaces(text.sliced(colon + 1))};
}
