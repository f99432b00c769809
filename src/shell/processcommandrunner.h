#pragma once

#include "platform/commandrunner.h"
#include "shell/cmdoutput.h"

// Runs console commands as child processes (CaptureCommandOutput), each bounded in time.
class ProcessCommandRunner : public CommandRunner
{
public:
    explicit ProcessCommandRunner(int limitMs = DefaultCaptureLimitMs) : m_limitMs(limitMs) {}

    QString capture(const QString &commandLine, bool wantOutput, bool wantErrors) override;

private:
    int m_limitMs;
};
