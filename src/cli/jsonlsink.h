#pragma once

#include "cli/outputfile.h"
#include "cli/resultsink.h"

// jsonl: each lookup is written as its line the moment it arrives, with one write, and then
// forgotten; a run killed at any moment leaves whole lines and at most one torn last line.
class JsonlSink : public ResultSink
{
public:
    JsonlSink(const QString &path, OutputFile::Mode mode) : m_out(path, mode) {}

    void add(const LookupResult &result) override;
    void finish() override { m_out.close(); }
    bool writesToTerminal() const override { return m_out.isTerminal(); }

private:
    OutputFile m_out;
};
