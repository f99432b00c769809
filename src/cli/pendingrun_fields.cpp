// TEMPORARY: see pendingrun.h.
#include "lookup/recordlines.h"

#include <QList>

QList<std::pair<QString, QString>> pendingRecordFields(const QString &record)
{
    QList<std::pair<QString, QString>> fields;
    for (const QString &line : SplitRecordLines(record)) {
        if (const std::optional<RecordField> field = ParseRecordLine(line))
            fields.append({field->name, field->value});
    }
    return fields;
}
