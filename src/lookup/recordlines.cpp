#include "lookup/recordlines.h"

#include <cstring>

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

// Where the next CR LF pair begins at or after `from`, or -1: memchr finds each CR, which beats a
// two-byte pattern search on lines of a few dozen bytes.
qsizetype findCrLf(QByteArrayView text, qsizetype from)
{
    const char *const data = text.data();
    const qsizetype last = text.size() - 1; // a pair starts before the last byte
    while (from < last) {
        const void *cr = std::memchr(data + from, '\r', size_t(last - from));
        if (!cr)
            return -1;
        const qsizetype at = static_cast<const char *>(cr) - data;
        if (data[at + 1] == '\n')
            return at;
        from = at + 1;
    }
    return -1;
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

RecordFields RecordFieldsOf(const QByteArray &record, const std::vector<bool> *skip)
{
    RecordFields fields(record);
    const QByteArrayView text(record);
    const qsizetype size = text.size();
    qsizetype start = 0;
    size_t index = 0;
    while (start <= size && size > 0) {
        qsizetype end = findCrLf(text, start);
        if (end < 0)
            end = size;
        const QByteArrayView line = text.sliced(start, end - start);
        const bool skipped = skip && index < skip->size() && (*skip)[index];
        ++index;
        if (!skipped && !line.isEmpty() && line.front() != '#' && line.front() != '%') {
            if (const qsizetype colon = line.indexOf(':'); colon >= 0) {
                qsizetype nameBegin = start;
                qsizetype nameEnd = start + colon;
                while (nameBegin < nameEnd && record[nameBegin] == ' ')
                    ++nameBegin;
                while (nameEnd > nameBegin && record[nameEnd - 1] == ' ')
                    --nameEnd;
                qsizetype valueBegin = start + colon + 1;
                qsizetype valueEnd = end;
                while (valueBegin < valueEnd && record[valueBegin] == ' ')
                    ++valueBegin;
                while (valueEnd > valueBegin && record[valueEnd - 1] == ' ')
                    --valueEnd;
                fields.appendPiece(nameBegin, nameEnd, valueBegin, valueEnd);
            }
        }
        start = end + 2;
    }
    return fields;
}
