#include "run/resultplacing.h"

#include "lookup/source.h"
#include "results/pivot.h"

#include <QSet>
#include <QUtf8StringView>

#include <cstdint>
#include <vector>

namespace {

const QString RecordSuffix = QStringLiteral(" (record)");
constexpr char RecordSuffixUtf8[] = " (record)";

// The summary captions as Pivot compares column names.
const QSet<QString> &summaryKeys()
{
    static const QSet<QString> keys = [] {
        QSet<QString> out;
        for (const QString &caption : summaryCaptions())
            out.insert(Pivot::columnKey(caption));
        return out;
    }();
    return keys;
}

bool isStatus(const FactColumn &column)
{
    return qstrcmp(column.jsonKey, "status") == 0;
}

template <class Texts> std::vector<QByteArray> utf8Of(const Texts &texts)
{
    std::vector<QByteArray> out;
    for (const QString &text : texts)
        out.push_back(text.toUtf8());
    return out;
}

// The summary captions as UTF-8, in order, and their keys (all plain ASCII).
const std::vector<QByteArray> &summaryCaptionsUtf8()
{
    static const std::vector<QByteArray> captions = utf8Of(summaryCaptions());
    return captions;
}

const std::vector<QByteArray> &summaryKeysUtf8()
{
    static const std::vector<QByteArray> keys = utf8Of(summaryKeys());
    return keys;
}

// A record field's name as rowFields reads it: without the spaces at its ends, and, when it is
// plain ASCII (nearly every name), whether it is a summary caption as Pivot compares column
// names, lowered here a byte at a time as Unicode's lower case does to ASCII. A name beyond
// ASCII goes through Pivot's own key, as such a letter can lower to an ASCII one (the Kelvin
// sign to "k").
struct RecordName
{
    QByteArrayView trimmed;
    bool ascii = true;
    bool summary = false;
};

// One bit for each length a summary key has: most names have none of them.
std::uint64_t summaryKeyLengths()
{
    static const std::uint64_t lengths = [] {
        std::uint64_t out = 0;
        for (const QByteArray &key : summaryKeysUtf8())
            out |= key.size() < 64 ? std::uint64_t(1) << key.size() : 0;
        return out;
    }();
    return lengths;
}

RecordName readName(QByteArrayView utf8)
{
    while (!utf8.isEmpty() && utf8.front() == ' ')
        utf8 = utf8.sliced(1);
    while (!utf8.isEmpty() && utf8.back() == ' ')
        utf8.chop(1);
    RecordName name{utf8};
    for (const char c : utf8) {
        if (c & 0x80) {
            name.ascii = false;
            return name;
        }
    }
    if (utf8.size() >= 64 || ((summaryKeyLengths() >> utf8.size()) & 1) == 0)
        return name;
    char lowered[64];
    for (qsizetype i = 0; i < utf8.size(); ++i)
        lowered[i] = utf8[i] >= 'A' && utf8[i] <= 'Z' ? char(utf8[i] + 32) : utf8[i];
    const QByteArrayView key(lowered, utf8.size());
    for (const QByteArray &summaryKey : summaryKeysUtf8()) {
        if (summaryKey == key) {
            name.summary = true;
            break;
        }
    }
    return name;
}

void appendCell(RecordFields &fields, const QByteArray &captionUtf8, const QString &cell)
{
    if (cell.isEmpty())
        fields.append(captionUtf8, {});
    else
        fields.append(captionUtf8, cell.toUtf8());
}

} // namespace

QStringList summaryCaptions()
{
    QStringList captions;
    for (const FactColumn &column : factColumns()) {
        captions.append(QLatin1String(column.caption));
        if (isStatus(column))
            captions.append(ErrorCaption);
    }
    captions.append(ChangedCaption);
    return captions;
}

bool hasSummaryColumns(const LookupResult &result)
{
    return result.source == SourceKind::Whois || result.source == SourceKind::Rdap;
}

QString recordCaption(const QString &name)
{
    if (!summaryKeys().contains(Pivot::columnKey(name)))
        return name;
    return trimSpaces(name) + RecordSuffix;
}

RecordFields rowFields(const LookupResult &result)
{
    if (!hasSummaryColumns(result))
        return result.fields;
    RecordFields fields;
    const std::vector<QByteArray> &captions = summaryCaptionsUtf8();
    // The summary's captions and cells, and the record's fields, mostly as long as they were.
    fields.reserve(qsizetype(captions.size()) + result.fields.size(),
                   result.fields.buffer().size() + 2048);
    std::size_t caption = 0;
    for (const FactColumn &column : factColumns()) {
        appendCell(fields, captions[caption++], column.cell(result.facts));
        if (isStatus(column))
            appendCell(fields, captions[caption++], failureText(result));
    }
    appendCell(fields, captions[caption++], result.changed.join(QStringLiteral(", ")));
    if (!result.ok())
        return fields;
    // The record's fields go over as the UTF-8 they are; a name beyond ASCII or a value that is
    // not valid UTF-8 (made valid as the text is) goes through text.
    for (qsizetype i = 0; i < result.fields.size(); ++i) {
        const QByteArrayView value = result.fields.valueUtf8(i);
        const RecordName name = readName(result.fields.nameUtf8(i));
        if (name.ascii && QUtf8StringView(value).isValidUtf8()) {
            if (name.summary)
                fields.append(QByteArray(name.trimmed.toByteArray() + RecordSuffixUtf8), value);
            else
                fields.append(result.fields.nameUtf8(i), value);
            continue;
        }
        const RecordField field = result.fields.at(i);
        fields.append(RecordField{recordCaption(field.name), field.value});
    }
    return fields;
}
