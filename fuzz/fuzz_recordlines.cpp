// Cutting a record text into lines and fields, and pivoting the fields into the results table.

#include "fuzzcheck.h"
#include "lookup/recordlines.h"
#include "results/pivot.h"
#include "results/resultstable.h"

#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

bool hasEndSpace(const QString &text)
{
    return !text.isEmpty() && (text.front() == u' ' || text.back() == u' ');
}

void checkTable(const ResultsTable &table)
{
    FUZZ_CHECK(table.headerCount() >= 1);
    FUZZ_CHECK(table.headerCount() <= ResultsTable::MaxColumns);
    FUZZ_CHECK_EQUAL(table.headerText(1), ResultsTable::AddressCaption);
    QSet<QString> keys;
    for (int k = 1; k <= table.headerCount(); ++k) {
        const QString key = Pivot::columnKey(table.headerText(k));
        FUZZ_CHECK(!keys.contains(key));
        keys.insert(key);
        FUZZ_CHECK_EQUAL(table.FindResultColumn(table.headerText(k)), k);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString record = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const QStringList lines = SplitRecordLines(record);
    FUZZ_CHECK_EQUAL(lines.join(QStringLiteral("\r\n")), record);
    FUZZ_CHECK(record.isEmpty() == lines.isEmpty());

    std::vector<RecordField> fields;
    for (const QString &line : lines) {
        FUZZ_CHECK(!line.contains(QStringLiteral("\r\n")));
        const std::optional<RecordField> field = ParseRecordLine(line);
        const bool carries =
            !line.isEmpty() && line.front() != u'#' && line.front() != u'%' && line.contains(u':');
        FUZZ_CHECK(field.has_value() == carries);
        if (!field)
            continue;
        FUZZ_CHECK(!field->name.contains(u':'));
        FUZZ_CHECK(!hasEndSpace(field->name));
        FUZZ_CHECK(!hasEndSpace(field->value));
        FUZZ_CHECK(line.contains(field->name) && line.contains(field->value));
        fields.push_back(*field);
    }

    // The record in UTF-8, cut into pieces of it, gives the same fields.
    const RecordFields pieces = RecordFieldsOf(record.toUtf8());
    FUZZ_CHECK_EQUAL(pieces.size(), qsizetype(fields.size()));
    for (qsizetype i = 0; i < pieces.size() && i < qsizetype(fields.size()); ++i)
        FUZZ_CHECK(pieces.at(i) == fields[size_t(i)]);

    ResultsTable table;
    table.ResetResultsTable();
    checkTable(table);
    const QString caption = Pivot::columnKey(ResultsTable::AddressCaption);
    // Three rows: the fields in order, in reverse order, and every other one.
    for (int pass = 0; pass < 3; ++pass) {
        const int row = table.AddResultRow(QStringLiteral("address%1.example").arg(pass));
        FUZZ_CHECK_EQUAL(row, pass + 1);
        for (size_t i = 0; i < fields.size(); ++i) {
            if (pass == 2 && i % 2 == 1)
                continue;
            const RecordField &field = pass == 1 ? fields[fields.size() - 1 - i] : fields[i];
            const int before = table.headerCount();
            const bool placed = table.PlaceField(row, field.name, field.value);
            if (Pivot::columnKey(field.name) == caption) {
                FUZZ_CHECK(!placed);
                continue;
            }
            FUZZ_CHECK(placed || before == ResultsTable::MaxColumns);
            if (!placed)
                continue;
            const int k = table.FindResultColumn(field.name);
            FUZZ_CHECK(k > 1);
            FUZZ_CHECK(table.headerCount() == before || table.headerCount() == before + 1);
            const QString value = trimSpaces(field.value);
            FUZZ_CHECK(value.isEmpty() || table.subItem(row, k - 1).endsWith(value));
        }
        checkTable(table);
    }
    table.MarkRowInvalid(2);
    FUZZ_CHECK(table.itemText(2).startsWith(ResultsTable::InvalidPrefix));
    table.ResetResultsTable();
    FUZZ_CHECK(table.itemCount() == 0 && table.headerCount() == 1);
    checkTable(table);
    return 0;
}
