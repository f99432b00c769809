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

// Writes the cell with its backslashes, tabs and line ends escaped; returns the end.
char *putEscaped(char *p, QByteArrayView cell)
{
    for (const char c : cell) {
        switch (c) {
        case '\\':
            *p++ = '\\';
            *p++ = '\\';
            break;
        case '\t':
            *p++ = '\\';
            *p++ = 't';
            break;
        case '\n':
            *p++ = '\\';
            *p++ = 'n';
            break;
        case '\r':
            *p++ = '\\';
            *p++ = 'r';
            break;
        default:
            *p++ = c;
        }
    }
    return p;
}

void appendEscaped(QByteArray &line, QByteArrayView cell)
{
    const qsizetype at = line.size();
    line.resize(at + 2 * cell.size());
    char *end = putEscaped(line.data() + at, cell);
    line.resize(end - line.constData());
}

const char *lineEnd(TextFormat format)
{
    return format == TextFormat::EscapedTsv ? "\n" : "\r\n";
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
    if (format != TextFormat::Csv) {
        // The line's length is known within a few bytes (twice the text's at most when
        // escaped): the bytes go straight into place.
        const bool escaped = format == TextFormat::EscapedTsv;
        const qsizetype at = out.size();
        out.resize(at + (escaped ? 2 : 1) * qsizetype(cells.textBytes()) + columns + 2);
        char *begin = out.data() + at;
        char *p = begin;
        // Column c's text comes after c separators; a line has columns - 1 of them.
        int next = 0; // the separators written so far
        for (int i = 0; i < n; ++i) {
            const int column = cells.column(i);
            p = putRepeated(p, sep, column - next);
            next = column;
            p = escaped ? putEscaped(p, cells.text(i)) : putBytes(p, cells.text(i));
        }
        p = putRepeated(p, sep, columns - 1 - next);
        if (!escaped)
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
        const QByteArray caption = table.caption(column).toUtf8();
        if (format == TextFormat::EscapedTsv)
            appendEscaped(line, caption);
        else
            appendCell(line, caption, format);
    }
    return line + lineEnd(format);
}

QByteArray rowLine(const Pivot &table, qsizetype row, TextFormat format)
{
    QByteArray line;
    appendRowLine(line, table, row, format);
    return line;
}

std::optional<ExportFailure> writeTableTextPieces(const Pivot &table, const WriteTextPiece &write,
                                                  TextFormat format, bool captions,
                                                  const std::function<void()> &yield)
{
    if (captions) {
        if (auto failed = write(captionLine(table, format)))
            return failed;
    }
    return writeRows(table, format, yield, write);
}

std::optional<ExportFailure> writeTableText(const Pivot &table, QIODevice &device,
                                            TextFormat format, bool captions,
                                            const std::function<void()> &yield)
{
    return writeTableTextPieces(
        table,
        [&](const QByteArray &bytes) -> std::optional<ExportFailure> {
            if (device.write(bytes) != bytes.size())
                return ExportFailure{ExportFailure::Step::Write,
                                     QStringLiteral("Cannot write: ") + device.errorString()};
            return std::nullopt;
        },
        format, captions, yield);
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
