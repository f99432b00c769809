#pragma once

#include "cli/clioptions.h"
#include "cli/resultsink.h"
#include "results/pivot.h"

// tsv, csv and xlsx: the results are pivoted into one table (one row per address, one column
// per field name) exactly as the window places them, and the table is written when the run
// ends with the window's own writers, since a later record may add a column.
class TableSink : public ResultSink
{
public:
    // Finds out at once whether the output can be written, before any lookup.
    explicit TableSink(const CliOptions &options);

    void add(const LookupResult &result) override;
    void finish() override;

private:
    void writeText();
    void writeWorkbook();

    CliOptions m_options;
    Pivot m_pivot;
};
