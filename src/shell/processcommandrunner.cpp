#include "shell/processcommandrunner.h"

QString ProcessCommandRunner::capture(const QString &commandLine, bool wantOutput, bool wantErrors)
{
    return CaptureCommandOutput(commandLine, wantOutput, wantErrors, m_limitMs);
}
