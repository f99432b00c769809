#pragma once

#include "text/packedlines.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Dialogs;
class QIODevice;

namespace ListFile {

inline const QString NotFoundMessage = QStringLiteral("File not found");

// Receives the lines read, a batch at a time, in order.
using LineSink = std::function<void(PackedLines &&)>;

// Tells a load to stop (the window was closed); asked each time the load lets events run.
using StopRequest = std::function<bool()>;

// Lines are appended in batches and events run between them about this often.
inline constexpr int SliceMs = 20;
// A batch is handed on once it holds this many lines, even within a slice.
inline constexpr qsizetype BatchLines = 64 * 1024;

// Hands every line of the device to the sink, in order, and returns how many there were.
// A file that starts with a UTF-16 byte-order mark (little- or big-endian) is UTF-16: the mark
// is dropped, an unpaired surrogate or an odd last byte becomes U+FFFD. Otherwise the bytes are
// UTF-8 (invalid bytes become U+FFFD; a byte-order mark at the start is dropped).
// A line ends at CR LF, CR or LF; each line is one entry, unchanged: empty lines give empty
// entries, nothing is trimmed or skipped. A line end at the very end adds no entry.
// Reads in large blocks; lets events run about every SliceMs. A read error throws
// RuntimeError after the complete lines read so far have been added.
qsizetype appendLines(const LineSink &sink, QIODevice &device, const StopRequest &stop = {});

// The reader behind appendLines, for a caller that pulls lines as it needs them: bytes go in
// (fed, or read a block at a time from a device), lines come out in order under the same
// rules. Lines decoded but not taken yet wait here; at most one block's worth is read ahead.
class LineReader
{
public:
    // Bytes read from a device per block.
    static constexpr qint64 BlockSize = 64 * 1024;

    LineReader();
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // More bytes of the list, in order.
    void feed(QByteArrayView bytes);
    // No more bytes: a last line without a line end and a cut-off character come out.
    void finish();
    // Reads one block from the device and feeds it; at the device's end, finish(). Returns
    // false at the end. A read error throws RuntimeError (the lines before it stay).
    bool readBlock(QIODevice &device);
    // Reads blocks from the device until `max` lines are waiting or the device ends, then
    // takes up to `max` of them.
    QStringList readLines(QIODevice &device, qsizetype max);
    // Up to `max` of the lines waiting, in order.
    QStringList take(qsizetype max);
    // Every line waiting, in order, as UTF-8.
    PackedLines takeAll();
    qsizetype waiting() const;
    bool finished() const;
    // Finished and every line taken.
    bool atEnd() const { return finished() && waiting() == 0; }

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// How much of a file's start is looked at before it is read as a list.
inline constexpr qsizetype SniffBytes = 4096;

// True when the first SniffBytes bytes of a file show that it is no text list: a NUL byte,
// in a file that does not start with a UTF-16 byte-order mark.
bool looksBinary(QByteArrayView head);

// The message that says a chosen file is not a list and nothing of it was added.
QString notAListMessage(const QString &path);

} // namespace ListFile

// A path with doubled "/" collapsed (one pass, left to right); a leading run of "/" becomes one.
QString NormalizePath(const QString &path);

// Hands the lines of the file at path to the sink (ListFile::appendLines). A path that names
// no existing file gives the message "File not found" (OK only, no icon, the given title) and
// adds nothing; so does a file that looksBinary (the message notAListMessage). Failures to open
// or read throw RuntimeError.
void FileToListview(const ListFile::LineSink &sink, const QString &path, Dialogs &dialogs,
                    const QString &title, const ListFile::StopRequest &stop = {});
