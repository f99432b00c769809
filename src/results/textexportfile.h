#pragma once

#include <QSaveFile>
#include <QString>

// The file the text export writes: UTF-8 lines, each ended by CR LF. The lines go to a
// temporary file beside the target, which replaces the target only on commit, so a failure
// half-way leaves no truncated file and the file being replaced as it was.
// Every failure throws RuntimeError.
class TextExportFile
{
public:
    explicit TextExportFile(const QString &path);

    void open();
    // Writes bytes as they are (a whole line with its line end).
    void writeBytes(const QByteArray &bytes);
    void commit();
    // Drops what was written; the target stays as it was. An uncommitted file is dropped
    // on destruction too.
    void cancel();
    bool isOpen() const { return m_file.isOpen(); }

private:
    [[noreturn]] void fail(const QString &what) const;

    QString m_path;
    QSaveFile m_file;
};
