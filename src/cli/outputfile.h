#pragma once

#include <QByteArrayView>
#include <QString>

// Where the results go: a file or standard output, written without a buffer of its own, so
// each write() reaches the file at once as one system call (or a few, for a long one).
// Every failure throws CliError with exit code 3.
class OutputFile
{
public:
    enum class Mode
    {
        Replace,
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

private:
    [[noreturn]] void fail(int error) const;

    QString m_path;
    int m_fd = -1;
};
