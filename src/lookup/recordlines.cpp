#include "lookup/recordlines.h"

#include "facts/labeltable.h"

#include <algorithm>
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

// Where `c` first stands in `text`, or -1: memchr itself (QByteArrayView::indexOf goes through a
// general search first, twice a line of every answer).
qsizetype findByte(QByteArrayView text, char c)
{
    const void *at = text.isEmpty() ? nullptr : std::memchr(text.data(), c, size_t(text.size()));
    return at ? static_cast<const char *>(at) - text.data() : -1;
}

// Where an answer's line is cut (see FieldCut::Answer), given its first colon: -1 for none.
qsizetype answerSeparator(QByteArrayView line, qsizetype colon)
{
    qsizetype from = 0;
    while (from < line.size() && (line[from] == ' ' || line[from] == '\t'))
        ++from;
    const qsizetype reach = colon < 0 ? line.size() : colon;
    const qsizetype tab = findByte(line.sliced(from, reach - from), '\t');
    if (tab < 0)
        return colon;
    const qsizetype at = from + tab;
    // "Label<TAB>: value": the colon still cuts.
    qsizetype next = at;
    while (next < reach && (line[next] == ' ' || line[next] == '\t'))
        ++next;
    if (next == colon)
        return colon;
    const QString label = QString::fromUtf8(line.sliced(from, at - from)).trimmed();
    return isKnownLabel(label) ? at : -1;
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

RecordFields RecordFieldsOf(const QByteArray &record, const std::vector<bool> *skip, FieldCut cut)
{
    RecordFields fields(record);
    const QByteArrayView text(record);
    const qsizetype size = text.size();
    const bool answer = cut == FieldCut::Answer;
    const auto blank = [answer](char c) { return c == ' ' || (answer && c == '\t'); };
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
            const qsizetype colon = findByte(line, ':');
            const qsizetype separator = answer ? answerSeparator(line, colon) : colon;
            if (separator >= 0) {
                qsizetype nameBegin = start;
                qsizetype nameEnd = start + separator;
                while (nameBegin < nameEnd && blank(record[nameBegin]))
                    ++nameBegin;
                while (nameEnd > nameBegin && blank(record[nameEnd - 1]))
                    --nameEnd;
                qsizetype valueBegin = start + separator + 1;
                qsizetype valueEnd = end;
                while (valueBegin < valueEnd && blank(record[valueBegin]))
                    ++valueBegin;
                while (valueEnd > valueBegin && blank(record[valueEnd - 1]))
                    --valueEnd;
                fields.appendPiece(nameBegin, nameEnd, valueBegin, valueEnd);
            }
        }
        start = end + 2;
    }
    return fields;
}

void dropLineFields(RecordFields &fields, const QByteArray &record, const std::vector<bool> &skip)
{
    if (fields.buffer().constData() != record.constData() ||
        fields.buffer().size() != record.size()) {
        fields = RecordFieldsOf(record, &skip, FieldCut::Answer);
        return;
    }
    // Cut from this record whole: the fields of the skipped lines are dropped where they
    // are, each found by the line its name begins on.
    std::vector<qsizetype> lineStarts{0};
    const QByteArrayView text(record);
    for (qsizetype at = findCrLf(text, 0); at >= 0; at = findCrLf(text, at + 2))
        lineStarts.push_back(at + 2);
    fields.removeIf([&](qsizetype nameBegin) {
        const auto line = std::upper_bound(lineStarts.begin(), lineStarts.end(), nameBegin) -
                          lineStarts.begin() - 1;
        return size_t(line) < skip.size() && skip[size_t(line)];
    });
}
