#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class Pivot;
class ResultsWorkbook;

// What failed while the table was put into a workbook, and at which step.
struct WorkbookFailure
{
    enum class Step
    {
        AddSheet,
        Caption,      // a caption of row 1
        AddressCell,  // a row's first cell
        Cell,         // any other cell
        TableChanged, // rows were removed while the sheet was filled
    };
    Step step;
    QString message;
};

// Fills the workbook's sheet with the table: row 1 holds every column's caption above its
// column; table row r goes to sheet row r + 2 and its column c to sheet column c + 1. A row
// left out by `included` (when given) leaves its sheet row empty, an empty cell its sheet cell.
// `yield` runs before every row (callers pass a TimeSlice). On failure the workbook is not
// complete and should be dropped.
std::optional<WorkbookFailure> fillWorkbook(ResultsWorkbook &book, const Pivot &table,
                                            const std::vector<bool> *included = nullptr,
                                            const std::function<void()> &yield = {});
