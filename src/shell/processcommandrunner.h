#pragma once

#include "cmdoutput.h"
#include "commandrunner.h"

// Runs console commands as child processes (CaptureCommandOutput), each bounded in time.
class ProcessCommandRunner : public CommandRunner
{
public:
    explicit ProcessCommandRunner(int limitMs = DefaultCaptureLimitMs) : m_limitMs(limitMs) {}

    QString capture(const QString &commandLine, bool wantOutput, bool wantErrors) override;

private:
    int m_limitMs;
};
