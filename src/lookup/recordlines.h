#pragma once

#include "text/recordfield.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The lines of a record text: cut at every CR LF pair, in order. A lone CR or a lone LF does
// not cut; pieces between two adjacent pairs are empty lines.
QStringList SplitRecordLines(const QString &record);

// The field a record line carries, or nothing: an empty line, a comment line ('#' or '%' as its
// very first character) and a line without ':' carry none. The first ':' cuts name from value;
// further colons stay in the value.
std::optional<RecordField> ParseRecordLine(const QString &line);

// The fields of a record text in UTF-8, as pieces of it: the fields SplitRecordLines and
// ParseRecordLine give, without copying the text. A line whose flag in `skip` (one per line, as
// SplitRecordLines cuts them) is set gives no field.
RecordFields RecordFieldsOf(const QByteArray &record, const std::vector<bool> *skip = nullptr);
