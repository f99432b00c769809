#include "cli/jsonline.h"

#include "lookup/lookupresult.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace JsonLine {

QByteArray format(const LookupResult &result)
{
    QJsonObject object;
    object.insert(QLatin1String("address"), result.address);
    object.insert(QLatin1String("source"), result.source);
    object.insert(QLatin1String("status"),
                  result.ok() ? QLatin1String("ok") : QLatin1String("failed"));
    if (!result.ok()) {
        object.insert(QLatin1String("error"),
                      result.error.isEmpty() ? failureReasonText(result.reason) : result.error);
    }
    object.insert(QLatin1String("servers"), QJsonArray::fromStringList(result.servers));
    QJsonArray fields;
    for (const RecordField &field : result.fields)
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
    return Summary{address.toString(),
                   document.object().value(QLatin1String("status")).toString() !=
                       QLatin1String("ok")};
}

} // namespace JsonLine
