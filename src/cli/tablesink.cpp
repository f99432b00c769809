#include "cli/tablesink.h"

#include "cli/clierror.h"
#include "cli/exitcode.h"
#include "cli/outputfile.h"
#include "lookup/lookupresult.h"
#include "platform/runtimeerror.h"
#include "results/resultstable.h"
#include "results/resultsworkbook.h"

#include <QFileInfo>

// TEMPORARY: the window's table stands in for the shared pivot, and rowText() for the shared
// tsv/csv writers, until both are on main.

namespace {

QString csvCell(const QString &cell)
{
    if (!cell.contains(QLatin1Char('"')) && !cell.contains(QLatin1Char(',')) &&
        !cell.contains(QLatin1Char('\r')) && !cell.contains(QLatin1Char('\n')))
        return cell;
    QString quoted = cell;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString rowText(const QStringList &cells, CliOptions::Format format)
{
    if (format == CliOptions::Format::Tsv)
        return cells.join(QLatin1Char('\t'));
    QStringList quoted;
    for (const QString &cell : cells)
        quoted << csvCell(cell);
    return quoted.join(QLatin1Char(','));
}

} // namespace

TableSink::TableSink(const CliOptions &options)
    : m_options(options), m_table(std::make_unique<ResultsTable>())
{
    m_table->ResetResultsTable();
    if (options.format != CliOptions::Format::Xlsx) {
        m_out = std::make_unique<OutputFile>(options.outputPath, OutputFile::Mode::Replace);
        return;
    }
    // The workbook is made at the end; find out now whether it can be.
    const QFileInfo file(options.outputPath);
    if (file.exists() ? !file.isWritable() || file.isDir() : !QFileInfo(file.path()).isWritable())
        throw CliError{ExitCode::NotWritable, QStringLiteral("cannot write ") + options.outputPath};
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

QStringList TableSink::cells(int row) const
{
    QStringList cells;
    cells.reserve(m_table->headerCount());
    cells << (row == 0 ? m_table->headerText(1) : m_table->itemText(row));
    for (int k = 2; k <= m_table->headerCount(); ++k)
        cells << (row == 0 ? m_table->headerText(k) : m_table->subItem(row, k - 1));
    return cells;
}

void TableSink::finish()
{
    if (m_options.format == CliOptions::Format::Xlsx) {
        writeWorkbook();
        return;
    }
    QByteArray bytes;
    const bool captions = m_options.header || m_options.format == CliOptions::Format::Csv;
    for (int i = captions ? 0 : 1; i <= m_table->itemCount(); ++i) {
        bytes += rowText(cells(i), m_options.format).toUtf8() + "\r\n";
        if (bytes.size() > (1 << 20)) {
            m_out->write(bytes);
            bytes.clear();
        }
    }
    m_out->write(bytes);
    m_out->close();
}

void TableSink::writeWorkbook()
{
    try {
        ResultsWorkbook book(m_options.outputPath);
        book.addSheet();
        // Sheet row 1 holds the captions, results row r sheet row r + 1.
        for (int i = 0; i <= m_table->itemCount(); ++i) {
            const QStringList row = cells(i);
            for (int k = 0; k < row.size(); ++k) {
                if (!row[k].isEmpty())
                    book.writeCell(i + 1, k + 1, row[k]);
            }
        }
        book.fitColumns();
        book.save();
        if (const QString notice = book.notice(); !notice.isEmpty())
            reportError(notice); // the workbook holds what fitted, as the window's does
    } catch (const RuntimeError &error) {
        throw CliError{ExitCode::NotWritable, error.description()};
    }
}
