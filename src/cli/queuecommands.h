#pragma once

#include <QString>
#include <QStringList>

// The sub-commands of the work queue that many machines share through a PostgreSQL store:
// enqueue (adds addresses), work (looks them up, on any number of machines) and queue (the
// progress view).
namespace QueueCommands {

bool isCommand(const QString &firstArgument);

// Runs `arguments` (arguments[0] the program, arguments[1] the sub-command); the exit code.
int run(const QStringList &arguments);

} // namespace QueueCommands
