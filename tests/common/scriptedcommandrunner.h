#pragma once

#include "platform/commandrunner.h"

#include <QStringList>

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
