#include "cli/tablesink.h"

#include "cli/clierror.h"
#include "cli/exitcode.h"
#include "lookup/lookupresult.h"
#include "platform/runtimeerror.h"
#include "results/resultsworkbook.h"
#include "results/textexport.h"
#include "results/workbookexport.h"
#include "run/resultplacing.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

CliError notWritable(const QString &name, const QString &why)
{
    return CliError{ExitCode::NotWritable,
                    QStringLiteral("cannot write ") + name + QStringLiteral(": ") + why};
}

} // namespace

TableSink::TableSink(const CliOptions &options) : m_options(options)
{
    m_pivot.reset(); // the address column
    if (options.outputPath.isEmpty())
        return;
    // The file is written at the end (beside the target, then renamed): it can be if the
    // folder takes new files and an existing target is a writable file.
    const QFileInfo file(options.outputPath);
    if (file.isDir())
        throw notWritable(options.outputPath, QStringLiteral("is a folder"));
    if (file.exists() ? !file.isWritable() : !QFileInfo(file.path()).isWritable())
        throw notWritable(options.outputPath,
                          QStringLiteral("permission denied or no such folder"));
}

void TableSink::add(const LookupResult &result)
{
    const qsizetype row = m_pivot.addRow(result.address);
    placeResult(
        result, [&](const RecordFields &fields) { return m_pivot.place(row, fields); },
        [&] { m_pivot.markInvalid(row); });
}

void TableSink::finish()
{
    if (m_options.format == CliOptions::Format::Xlsx)
        writeWorkbook();
    else
        writeText();
}

void TableSink::writeText()
{
    const bool csv = m_options.format == CliOptions::Format::Csv;
    const TextFormat format = csv ? TextFormat::Csv : TextFormat::Tsv;
    const bool captions = csv || m_options.header;
    std::optional<ExportFailure> failure;
    if (m_options.outputPath.isEmpty()) {
        QFile out;
        if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly))
            throw notWritable(QStringLiteral("standard output"), out.errorString());
        failure = writeTableText(m_pivot, out, format, captions);
        if (!failure && !out.flush())
            throw notWritable(QStringLiteral("standard output"), out.errorString());
    } else {
        failure = writeTableTextFile(m_pivot, m_options.outputPath, format, captions);
    }
    if (failure)
        throw CliError{ExitCode::NotWritable, failure->message};
}

void TableSink::writeWorkbook()
{
    try {
        ResultsWorkbook book(m_options.outputPath);
        if (const std::optional<WorkbookFailure> failure = fillWorkbook(book, m_pivot))
            throw CliError{ExitCode::NotWritable, failure->message};
        book.fitColumns();
        book.save();
        if (const QString notice = book.notice(); !notice.isEmpty())
            reportError(notice); // the workbook holds what fitted, as the window's does
    } catch (const RuntimeError &error) {
        throw CliError{ExitCode::NotWritable, error.description()};
    }
}
