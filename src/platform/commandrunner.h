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

// Test double: answers every command with the prepared output.
class ScriptedCommandRunner : public CommandRunner
{
public:
    QString capture(const QString &commandLine, bool, bool) override
    {
        commandLines.append(commandLine);
        return output;
    }
    QString output;
    QStringList commandLines;
};
