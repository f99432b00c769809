#pragma once

#include <QByteArray>
#include <QString>

// A whole file's bytes, or why they could not be read.
struct FileBytes
{
    QByteArray bytes;
    int error = 0;         // errno of the failed open or read; 0 when read
    bool tooLarge = false; // more than the cap: bytes holds nothing
    bool ok() const { return error == 0 && !tooLarge; }
};

// Reads a file of at most `cap` bytes with one open, one fstat and, for a regular file, one
// read as a rule (a file read thousands of times in a run, such as a saved answer, pays a few
// system calls rather than Qt's several); a regular file larger than the cap is not read.
// Pipes and devices are read to their end or past the cap.
FileBytes readFileBytes(const QString &path, qsizetype cap);
