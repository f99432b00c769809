#pragma once

#include <QStringList>

// `quorvane-cli work`: one worker of a queue that many machines share through a PostgreSQL
// store. It claims addresses in batches under a lease it renews while it works, looks them up
// with the usual sources and politeness (and, with --pace-group, the pace its group shares),
// keeps every answer in the store, each in the transaction that marks its address done, and
// exits when the queue is empty (or waits for more with --follow).
namespace WorkCommand {

// `arguments`: the program, then the sub-command's own arguments. The exit code.
int run(const QStringList &arguments);

} // namespace WorkCommand
