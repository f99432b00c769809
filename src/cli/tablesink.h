#pragma once

#include "cli/clioptions.h"
#include "cli/outputfile.h"
#include "cli/resultsink.h"
#include "results/pivot.h"

#include <memory>

// tsv, txt, csv and xlsx: the results are pivoted into one table (one row per address, one
// column per field name) exactly as the window places them, and the table is written when the
// run ends with the window's own writers, since a later record may add a column. A regular
// file (or a new name) is written beside its name and renamed over it when complete; standard
// output, a device, a pipe or a FIFO is opened at once (so a failure shows before any lookup)
// and written directly, a piece at a time.
class TableSink : public ResultSink
{
public:
    // Finds out at once whether the output can be written, before any lookup.
    explicit TableSink(const CliOptions &options);
    ~TableSink() override;

    void add(const LookupResult &result) override;
    void finish() override;

private:
    void writeText();
    void writeWorkbook();

    CliOptions m_options;
    OutputPlace m_place;
    std::unique_ptr<OutputFile> m_direct; // standard output or an output written in place
    Pivot m_pivot;
};
