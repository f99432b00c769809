#pragma once

struct LookupResult;

// Where the tool's results go, one lookup at a time, in list order. Failures throw CliError.
class ResultSink
{
public:
    virtual ~ResultSink() = default;
    virtual void add(const LookupResult &result) = 0;
    // After the last lookup (or a stop): writes whatever is still held and closes the output.
    virtual void finish() = 0;
    // Whether add() writes to a terminal at once (where the progress line is drawn too).
    virtual bool writesToTerminal() const { return false; }
};
