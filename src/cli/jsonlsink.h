#pragma once

#include "cli/outputfile.h"
#include "cli/resultsink.h"

// jsonl: each lookup is written as its line the moment it arrives, with one write, and then
// forgotten; a run killed at any moment leaves whole lines and at most one torn last line.
// Lines made faster than any lookup (answers read from files) may instead be gathered and
// written 64 KiB at a time rather than with a system call each; a run killed then loses the
// lines gathered since the last write, and still leaves only whole lines.
class JsonlSink : public ResultSink
{
public:
    enum class Writes
    {
        EachLine,
        Gathered
    };

    JsonlSink(const QString &path, OutputFile::Mode mode, Writes writes = Writes::EachLine)
        : m_out(path, mode), m_writes(writes)
    {
    }

    void add(const LookupResult &result) override;
    void finish() override;
    bool writesToTerminal() const override { return m_out.isTerminal(); }

private:
    OutputFile m_out;
    Writes m_writes;
    QByteArray m_gathered;
};
