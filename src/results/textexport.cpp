#include "results/textexport.h"

#include "platform/runtimeerror.h"
#include "results/linebytes.h"
#include "results/pivot.h"
#include "results/textexportfile.h"

#include <QIODevice>

#include <algorithm>

namespace {

bool needsQuotes(QByteArrayView cell)
{
    for (const char c : cell) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

void appendCell(QByteArray &line, QByteArrayView cell, TextFormat format)
{
    if (format == TextFormat::Csv && needsQuotes(cell)) {
        line += '"';
        for (const char c : cell) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
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

char separator(TextFormat format)
{
    return format == TextFormat::Csv ? ',' : '\t';
}

// Rows are written in pieces of about this size, and the window's events may run every so
// many cells (a clock read each time).
constexpr qsizetype kWriteBytes = qsizetype(1) << 20;
constexpr qsizetype kCellsPerYield = 4096;

} // namespace

void appendRowLine(QByteArray &out, const Pivot &table, qsizetype row, TextFormat format)
{
    const char sep = separator(format);
    const int columns = table.columnCount();
    const RowCells &cells = table.rowCells(row);
    const int n = cells.count();
    if (format == TextFormat::Tsv) {
        // The line's length is known within a few bytes: the bytes go straight into place.
        const qsizetype at = out.size();
        out.resize(at + qsizetype(cells.textBytes()) + columns + 2);
        char *begin = out.data() + at;
        char *p = begin;
        // Column c's text comes after c separators; a line has columns - 1 of them.
        int next = 0; // the separators written so far
        for (int i = 0; i < n; ++i) {
            const int column = cells.column(i);
            p = putRepeated(p, sep, column - next);
            next = column;
            p = putBytes(p, cells.text(i));
        }
        p = putRepeated(p, sep, columns - 1 - next);
        *p++ = '\r';
        *p++ = '\n';
        out.resize(at + (p - begin));
        return;
    }
    if (columns > 0)
        appendCell(out, table.cellUtf8(row, 0), format);
    int next = 1; // the next column whose separator is due
    table.forEachCell(row, [&](int column, QByteArrayView text) {
        if (column >= next) {
            out.append(qsizetype(column - next + 1), sep);
            next = column + 1;
        }
        appendCell(out, text, format);
    });
    if (next < columns)
        out.append(qsizetype(columns - next), sep);
    out += "\r\n";
}

namespace {

// One pass over the rows: lines gathered into pieces of kWriteBytes for `write`, the yield
// called before the first row and then once kCellsPerYield cells have been written.
template <class Write>
std::optional<ExportFailure> writeRows(const Pivot &table, TextFormat format,
                                       const std::function<void()> &yield, Write &&write)
{
    QByteArray piece;
    piece.reserve(kWriteBytes + 64 * 1024);
    qsizetype cellsSinceYield = kCellsPerYield;
    for (qsizetype row = 0; row < table.rowCount(); ++row) {
        if (cellsSinceYield >= kCellsPerYield) {
            cellsSinceYield = 0;
            if (yield)
                yield();
            if (row >= table.rowCount())
                return tableChanged();
        }
        appendRowLine(piece, table, row, format);
        cellsSinceYield += table.cellCount(row) + 1;
        if (piece.size() >= kWriteBytes) {
            if (auto failed = write(piece))
                return failed;
            piece.resize(0); // keeps the room
        }
    }
    if (!piece.isEmpty())
        return write(piece);
    return std::nullopt;
}

} // namespace

QByteArray captionLine(const Pivot &table, TextFormat format)
{
    QByteArray line;
    for (int column = 0; column < table.columnCount(); ++column) {
        if (column > 0)
            line += separator(format);
        appendCell(line, table.caption(column).toUtf8(), format);
    }
    return line + "\r\n";
}

QByteArray rowLine(const Pivot &table, qsizetype row, TextFormat format)
{
    QByteArray line;
    appendRowLine(line, table, row, format);
    return line;
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
    return writeRows(table, format, yield, write);
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
    if (!failed)
        failed = writeRows(table, format, yield, [&](const QByteArray &piece) {
            return attempt(ExportFailure::Step::Write, [&] { file.writeBytes(piece); });
        });
    if (failed) {
        file.cancel();
        return failed;
    }
    return attempt(ExportFailure::Step::Commit, [&] { file.commit(); });
}
