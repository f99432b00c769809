#include "run/resultplacing.h"

#include "lookup/source.h"
#include "results/pivot.h"

#include <QSet>

namespace {

const QString RecordSuffix = QStringLiteral(" (record)");

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
    const std::span<const FactColumn> columns = factColumns();
    for (const FactColumn &column : columns) {
        fields.append(RecordField{QLatin1String(column.caption), column.cell(result.facts)});
        if (isStatus(column))
            fields.append(RecordField{ErrorCaption, failureText(result)});
    }
    fields.append(RecordField{ChangedCaption, result.changed.join(QStringLiteral(", "))});
    if (!result.ok())
        return fields;
    for (qsizetype i = 0; i < result.fields.size(); ++i) {
        const RecordField field = result.fields.at(i);
        fields.append(RecordField{recordCaption(field.name), field.value});
    }
    return fields;
}
