#include "cli/tablesink.h"

#include "cli/outputfile.h"
#include "lookup/lookupresult.h"
#include "results/resultstable.h"

// TEMPORARY: the window's table stands in for the shared pivot, and the rows are written here
// until the shared writers are on main.

TableSink::TableSink(const CliOptions &options)
    : m_options(options), m_table(std::make_unique<ResultsTable>()),
      m_out(std::make_unique<OutputFile>(options.outputPath, OutputFile::Mode::Replace))
{
    m_table->ResetResultsTable();
}

TableSink::~TableSink() = default;

void TableSink::add(const LookupResult &result)
{
    const int row = m_table->AddResultRow(result.address);
    if (!result.ok())
        m_table->MarkRowInvalid(row);
    for (const RecordField &field : result.fields) {
        if (!m_table->PlaceField(row, field.name, field.value))
            m_table->MarkRowInvalid(row);
    }
}

void TableSink::finish()
{
    QString line;
    QByteArray bytes;
    const auto writeRow = [&](int i) {
        line = i == 0 ? m_table->headerText(1) : m_table->itemText(i);
        for (int k = 2; k <= m_table->headerCount(); ++k)
            line +=
                QLatin1Char('\t') + (i == 0 ? m_table->headerText(k) : m_table->subItem(i, k - 1));
        bytes += line.toUtf8() + "\r\n";
        if (bytes.size() > (1 << 20)) {
            m_out->write(bytes);
            bytes.clear();
        }
    };
    if (m_options.header)
        writeRow(0);
    for (int i = 1; i <= m_table->itemCount(); ++i)
        writeRow(i);
    m_out->write(bytes);
    m_out->close();
}
