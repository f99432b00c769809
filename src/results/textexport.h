#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class Pivot;
class QIODevice;

// The text forms of the results table, all UTF-8.
enum class TextFormat
{
    Tsv, // the window's text file: cells joined by tabs, as they are; CR LF line ends
    Csv, // RFC 4180: a cell with a comma, quote or line break is quoted, quotes doubled; CR LF
    // Tab-separated values any reader can split (the convention of PostgreSQL's COPY and of
    // Miller): a backslash, tab, LF or CR inside a cell is written \\, \t, \n or \r, so every
    // line has as many fields as the caption line; LF line ends.
    EscapedTsv,
};

// What failed while a table was written, and at which step.
struct ExportFailure
{
    enum class Step
    {
        Create,       // the file could not be made
        Write,        // a line could not be written
        Commit,       // the finished file could not replace the target
        TableChanged, // rows were removed while the lines were written
    };
    Step step;
    QString message;
};

// One line of the table in the given form, CR LF ended: the captions, or row `row`.
QByteArray captionLine(const Pivot &table, TextFormat format);
QByteArray rowLine(const Pivot &table, qsizetype row, TextFormat format);
// Appends row `row`'s line to `out`.
void appendRowLine(QByteArray &out, const Pivot &table, qsizetype row, TextFormat format);

// Writes the table to the device: the caption row first when asked for, then every row.
// `yield` runs before the first row and then after every few thousand cells (callers pass a
// TimeSlice); rows added meanwhile are written too.
std::optional<ExportFailure> writeTableText(const Pivot &table, QIODevice &device,
                                            TextFormat format, bool captions,
                                            const std::function<void()> &yield = {});

// The same through `write`, which takes the lines in pieces of about a megabyte and returns a
// failure to stop the writing.
using WriteTextPiece = std::function<std::optional<ExportFailure>(const QByteArray &piece)>;
std::optional<ExportFailure> writeTableTextPieces(const Pivot &table, const WriteTextPiece &write,
                                                  TextFormat format, bool captions,
                                                  const std::function<void()> &yield = {});

// The same into a file: the lines go to a temporary file beside the target, which replaces the
// target only when all of them are written, so a failure leaves the target as it was.
std::optional<ExportFailure> writeTableTextFile(const Pivot &table, const QString &path,
                                                TextFormat format, bool captions,
                                                const std::function<void()> &yield = {});
