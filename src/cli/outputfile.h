#pragma once

#include <QByteArrayView>
#include <QString>

// How a named output is written.
enum class OutputPlace
{
    StandardOutput, // no name
    // A regular file, or a name nothing holds: a table is written beside it and renamed over
    // it when complete, so a failure leaves the old file as it was.
    Replaced,
    // Anything else (a device such as /dev/null, a FIFO, a pipe such as /dev/stdout or
    // >(cmd), a symbolic link): opened and written as it is, never replaced.
    InPlace,
};
OutputPlace outputPlace(const QString &path);

// Where the results go: a file or standard output, written without a buffer of its own, so
// each write() reaches the file at once as one system call (or a few, for a long one).
// Every failure throws CliError with exit code 3.
class OutputFile
{
public:
    enum class Mode
    {
        Replace, // what the file held goes (truncated on opening)
        Append
    };

    // An empty path is standard output.
    OutputFile(const QString &path, Mode mode);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    void write(QByteArrayView bytes);
    // Closes a file; a failure to close (a full disk on some file systems) throws.
    void close();

    QString name() const;
    // Whether the output is a terminal (lines written there share it with the progress line).
    bool isTerminal() const;

private:
    [[noreturn]] void fail(int error) const;

    QString m_path;
    int m_fd = -1;
};
