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
#include <QTemporaryDir>

namespace {

CliError notWritable(const QString &name, const QString &why)
{
    return CliError{ExitCode::NotWritable,
                    QStringLiteral("cannot write ") + name + QStringLiteral(": ") + why};
}

} // namespace

TableSink::TableSink(const CliOptions &options)
    : m_options(options), m_place(outputPlace(options.outputPath))
{
    m_pivot.reset(); // the address column
    if (m_place != OutputPlace::Replaced) {
        m_direct = std::make_unique<OutputFile>(options.outputPath, OutputFile::Mode::Replace);
        return;
    }
    // The file is written at the end (beside the target, then renamed): it can be if the
    // folder takes new files and an existing target is a writable file.
    const QFileInfo file(options.outputPath);
    if (file.exists() ? !file.isWritable() : !QFileInfo(file.path()).isWritable())
        throw notWritable(options.outputPath,
                          QStringLiteral("permission denied or no such folder"));
}

TableSink::~TableSink() = default;

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
    if (m_direct)
        m_direct->close();
}

void TableSink::writeText()
{
    const TextFormat format = m_options.format == CliOptions::Format::Csv ? TextFormat::Csv
                              : m_options.format == CliOptions::Format::Txt
                                  ? TextFormat::Tsv
                                  : TextFormat::EscapedTsv;
    const bool captions = format == TextFormat::Csv || m_options.header;
    std::optional<ExportFailure> failure;
    if (m_direct) {
        failure = writeTableTextPieces(
            m_pivot,
            [this](const QByteArray &piece) -> std::optional<ExportFailure> {
                m_direct->write(piece); // throws CliError with the reason
                return std::nullopt;
            },
            format, captions);
    } else {
        failure = writeTableTextFile(m_pivot, m_options.outputPath, format, captions);
    }
    if (failure)
        throw CliError{ExitCode::NotWritable, failure->message};
}

void TableSink::writeWorkbook()
{
    try {
        // A workbook is a zip file written by name: for an output written in place it is made
        // in a folder of its own and then copied there.
        std::unique_ptr<QTemporaryDir> scratch;
        QString path = m_options.outputPath;
        if (m_direct) {
            scratch = std::make_unique<QTemporaryDir>();
            if (!scratch->isValid())
                throw CliError{ExitCode::NotWritable,
                               QStringLiteral("cannot make a temporary folder for the workbook: ") +
                                   scratch->errorString()};
            path = scratch->filePath(QStringLiteral("results.xlsx"));
        }
        ResultsWorkbook book(path);
        book.setReplaceExisting(true);
        if (const std::optional<WorkbookFailure> failure = fillWorkbook(book, m_pivot))
            throw CliError{ExitCode::NotWritable, failure->message};
        book.fitColumns();
        book.save();
        if (const QString notice = book.notice(); !notice.isEmpty())
            reportError(notice); // the workbook holds what fitted, as the window's does
        if (m_direct) {
            QFile made(book.path());
            if (!made.open(QIODevice::ReadOnly))
                throw CliError{ExitCode::NotWritable, made.errorString()};
            for (;;) {
                const QByteArray piece = made.read(qint64(1) << 20);
                if (piece.isEmpty()) {
                    if (made.error() != QFileDevice::NoError)
                        throw CliError{ExitCode::NotWritable, made.errorString()};
                    break;
                }
                m_direct->write(piece);
            }
        }
    } catch (const RuntimeError &error) {
        throw CliError{ExitCode::NotWritable, error.description()};
    }
}
