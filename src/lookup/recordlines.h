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

// How a record line is cut into a field's name and value.
enum class FieldCut
{
    // The web sites' records: as ParseRecordLine cuts a line.
    Colon,
    // Port-43 and RDAP answers: as Colon, with tabs trimmed as spaces are. A line whose first
    // tab after its indent comes before its first colon ("Registrar<TAB>Example Ltd",
    // "ns1.example.ch<TAB>2001:db8::53") is cut at that tab when the words before it are a label
    // the facts know, and otherwise carries no field: its colons are part of a value.
    Answer,
};

// The fields of a record text in UTF-8, as pieces of it: the fields SplitRecordLines and
// ParseRecordLine give (or `cut` gives), without copying the text. A line whose flag in `skip`
// (one per line, as SplitRecordLines cuts them) is set gives no field.
RecordFields RecordFieldsOf(const QByteArray &record, const std::vector<bool> *skip = nullptr,
                            FieldCut cut = FieldCut::Colon);

// The fields of a record less those of the lines `skip` marks, as RecordFieldsOf(record, &skip,
// FieldCut::Answer) gives them: `fields` cut from `record` whole keep their pieces, the marked
// lines' dropped; fields of another text are cut again.
void dropLineFields(RecordFields &fields, const QByteArray &record, const std::vector<bool> &skip);
