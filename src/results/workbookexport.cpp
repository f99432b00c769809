#include "results/workbookexport.h"

#include "platform/runtimeerror.h"
#include "results/pivot.h"
#include "results/resultsworkbook.h"

std::optional<WorkbookFailure> fillWorkbook(ResultsWorkbook &book, const Pivot &table,
                                            const std::vector<bool> *included,
                                            const std::function<void()> &yield)
{
    using Step = WorkbookFailure::Step;
    Step step = Step::AddSheet;
    try {
        book.addSheet();
        step = Step::Caption;
        for (int column = 0; column < table.columnCount(); ++column)
            book.writeCell(1, column + 1, table.caption(column));
        for (qsizetype row = 0; row < table.rowCount(); ++row) {
            if (yield)
                yield();
            if (row >= table.rowCount())
                return WorkbookFailure{Step::TableChanged, QStringLiteral("Index out of bounds")};
            if (included && (size_t(row) >= included->size() || !(*included)[size_t(row)]))
                continue;
            const int sheetRow = int(row) + 2;
            step = Step::AddressCell;
            const QString address = table.cell(row, 0);
            if (!address.isEmpty())
                book.writeCell(sheetRow, 1, address);
            step = Step::Cell;
            table.forEachCell(row, [&](int column, QByteArrayView text) {
                book.writeCell(sheetRow, column + 1, textFromUtf8(text));
            });
        }
    } catch (const RuntimeError &e) {
        return WorkbookFailure{step, e.description()};
    }
    return std::nullopt;
}
