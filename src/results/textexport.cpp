#include "results/textexport.h"

#include "platform/runtimeerror.h"
#include "results/pivot.h"
#include "results/textexportfile.h"

#include <QIODevice>

namespace {

bool needsQuotes(QStringView cell)
{
    for (const QChar c : cell) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n')
            return true;
    }
    return false;
}

void appendCell(QString &line, QStringView cell, TextFormat format)
{
    if (format == TextFormat::Csv && needsQuotes(cell)) {
        line += u'"';
        for (const QChar c : cell) {
            if (c == u'"')
                line += u'"';
            line += c;
        }
        line += u'"';
    } else {
        line += cell;
    }
}

// Rows removed under a yield (the user cleared the results): what was written is no longer the
// table, so the export fails rather than save part of it.
ExportFailure tableChanged()
{
    return ExportFailure{ExportFailure::Step::TableChanged, QStringLiteral("Index out of bounds")};
}

QChar separator(TextFormat format)
{
    return format == TextFormat::Csv ? u',' : u'\t';
}

QByteArray finish(QString &line)
{
    line += QLatin1String("\r\n");
    return line.toUtf8();
}

} // namespace

QByteArray captionLine(const Pivot &table, TextFormat format)
{
    QString line;
    for (int column = 0; column < table.columnCount(); ++column) {
        if (column > 0)
            line += separator(format);
        appendCell(line, table.caption(column), format);
    }
    return finish(line);
}

QByteArray rowLine(const Pivot &table, qsizetype row, TextFormat format)
{
    const QChar sep = separator(format);
    QString line;
    const int columns = table.columnCount();
    if (columns > 0)
        appendCell(line, table.cell(row, 0), format);
    int next = 1; // the next column whose separator is due
    table.forEachCell(row, [&](int column, const QString &text) {
        for (; next <= column; ++next)
            line += sep;
        appendCell(line, text, format);
    });
    for (; next < columns; ++next)
        line += sep;
    return finish(line);
}

std::optional<ExportFailure> writeTableText(const Pivot &table, QIODevice &device,
                                            TextFormat format, bool captions,
                                            const std::function<void()> &yield)
{
    auto write = [&](const QByteArray &bytes) -> std::optional<ExportFailure> {
        if (device.write(bytes) != bytes.size())
            return ExportFailure{ExportFailure::Step::Write,
                                 QStringLiteral("Cannot write: ") + device.errorString()};
        return std::nullopt;
    };
    if (captions) {
        if (auto failed = write(captionLine(table, format)))
            return failed;
    }
    for (qsizetype row = 0; row < table.rowCount(); ++row) {
        if (yield)
            yield();
        if (row >= table.rowCount())
            return tableChanged();
        if (auto failed = write(rowLine(table, row, format)))
            return failed;
    }
    return std::nullopt;
}

std::optional<ExportFailure> writeTableTextFile(const Pivot &table, const QString &path,
                                                TextFormat format, bool captions,
                                                const std::function<void()> &yield)
{
    TextExportFile file(path);
    auto attempt = [&](ExportFailure::Step step, auto &&action) -> std::optional<ExportFailure> {
        try {
            action();
            return std::nullopt;
        } catch (const RuntimeError &e) {
            return ExportFailure{step, e.description()};
        }
    };
    if (auto failed = attempt(ExportFailure::Step::Create, [&] { file.open(); }))
        return failed;
    std::optional<ExportFailure> failed;
    if (captions)
        failed = attempt(ExportFailure::Step::Write,
                         [&] { file.writeBytes(captionLine(table, format)); });
    for (qsizetype row = 0; !failed && row < table.rowCount(); ++row) {
        if (yield)
            yield();
        if (row >= table.rowCount()) {
            failed = tableChanged();
            break;
        }
        failed = attempt(ExportFailure::Step::Write,
                         [&] { file.writeBytes(rowLine(table, row, format)); });
    }
    if (failed) {
        file.cancel();
        return failed;
    }
    return attempt(ExportFailure::Step::Commit, [&] { file.commit(); });
}
