#pragma once

#include <QString>
#include <QStringList>

// The sub-commands that read the answer store and ask no server: history, changes, expiring
// and latest. The lookup stays the command when the first argument names none of them.
namespace StoreCommands {

bool isCommand(const QString &firstArgument);

// Runs `arguments` (arguments[0] the program, arguments[1] the sub-command); the exit code.
int run(const QStringList &arguments);

} // namespace StoreCommands
