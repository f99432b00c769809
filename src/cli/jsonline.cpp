#include "cli/jsonline.h"

#include "lookup/lookupresult.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace JsonLine {

QString utcText(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC).toString(Qt::ISODate);
}

QByteArray format(const LookupResult &result)
{
    QJsonObject object;
    object.insert(QLatin1String("address"), result.address);
    object.insert(QLatin1String("source"), result.source);
    // The facts beside the lookup's own keys ("status" among them); an unknown one is left out.
    for (const FactColumn &column : factColumns()) {
        const QJsonValue value = column.json(result.facts);
        const bool empty = value.isArray() ? value.toArray().isEmpty() : value.toString().isEmpty();
        if (!empty)
            object.insert(QLatin1String(column.jsonKey), value);
    }
    if (!result.ok()) {
        object.insert(QLatin1String("error"),
                      result.error.isEmpty() ? failureReasonText(result.reason) : result.error);
    }
    object.insert(QLatin1String("servers"), QJsonArray::fromStringList(result.servers));
    // When the answer was given, and whether it came from the store rather than a server.
    if (result.askedAtMs > 0)
        object.insert(QLatin1String("asked_at"), utcText(result.askedAtMs));
    object.insert(QLatin1String("from_store"), result.fromStore);
    if (!result.changed.isEmpty())
        object.insert(QLatin1String("changed"), QJsonArray::fromStringList(result.changed));
    QJsonArray fields;
    for (const RecordField &field : result.fields.toList())
        fields.append(QJsonArray{field.name, field.value});
    object.insert(QLatin1String("fields"), fields);
    QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    line += '\n';
    return line;
}

std::optional<Summary> read(QByteArrayView line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    const QJsonValue address = document.object().value(QLatin1String("address"));
    if (!document.isObject() || !address.isString())
        return std::nullopt;
    // A failed lookup is the one with an "error" (older files also said "status":"failed").
    const QJsonObject object = document.object();
    return Summary{address.toString(),
                   object.contains(QLatin1String("error")) ||
                       object.value(QLatin1String("status")).toString() == QLatin1String("failed")};
}

} // namespace JsonLine
