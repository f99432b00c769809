#pragma once

#include "cli/clioptions.h"
#include "cli/resultsink.h"

#include <QStringList>

#include <memory>

class ResultsTable;
class OutputFile;

// tsv, csv and xlsx: the results are pivoted into one table (one row per address, one column
// per field name), which is written when the run ends, since a later record may add a column.
class TableSink : public ResultSink
{
public:
    // Opens the output at once, so an unwritable one fails before any lookup.
    explicit TableSink(const CliOptions &options);
    ~TableSink() override;

    void add(const LookupResult &result) override;
    void finish() override;

private:
    // Row 0 is the captions.
    QStringList cells(int row) const;
    void writeWorkbook();

    CliOptions m_options;
    std::unique_ptr<ResultsTable> m_table;
    std::unique_ptr<OutputFile> m_out;
};
