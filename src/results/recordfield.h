#pragma once

#include <QList>
#include <QString>

// One "name: value" field of a whois record, both without the spaces at their ends.
struct RecordField
{
    QString name;
    QString value;

    friend bool operator==(const RecordField &, const RecordField &) = default;
};

using RecordFields = QList<RecordField>;
