#pragma once

#include <QString>
#include <QStringList>

// Runs a console command and returns what it wrote (see CaptureCommandOutput).
class CommandRunner
{
public:
    virtual ~CommandRunner() = default;
    virtual QString capture(const QString &commandLine, bool wantOutput, bool wantErrors) = 0;
};
