// quorvane-cli: looks up a list of addresses and writes the results as tsv, csv, jsonl or xlsx.
#include "cli/cliapp.h"
#include "cli/clioptions.h"
#include "cli/exitcode.h"
#include "cli/queuecommands.h"
#include "cli/recordfiles.h"
#include "cli/storecommands.h"
#include "platform/logging.h"
#include "platform/processheap.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    ShareOneProcessHeap();
    // Qt's own Unix event loop rather than glib's: a run is sockets, timers and posted calls, and
    // glib's loop spends more system calls on each turn. Set for the whole run, as the threads
    // started later (the answer store's writer, the shared pace) each choose their loop when
    // they start; the tool starts no other program that would inherit it.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    // A closed pipe on standard output is reported as an unwritable output, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);

    // history, changes, expiring and latest read the store; anything else is a lookup.
    if (StoreCommands::isCommand(QCoreApplication::arguments().value(1)))
        return StoreCommands::run(QCoreApplication::arguments());
    // enqueue, work and queue: the work queue many machines share.
    if (QueueCommands::isCommand(QCoreApplication::arguments().value(1)))
        return QueueCommands::run(QCoreApplication::arguments());

    const CliArguments::Parsed parsed = CliArguments::parse(QCoreApplication::arguments());
    if (const auto *info = std::get_if<CliArguments::Info>(&parsed)) {
        std::fputs(info->text.toLocal8Bit().constData(), stdout);
        return ExitCode::Done;
    }
    if (const auto *error = std::get_if<CliArguments::UsageError>(&parsed)) {
        std::fprintf(stderr, "quorvane-cli: %s\nTry 'quorvane-cli --help'.\n",
                     error->message.toLocal8Bit().constData());
        return ExitCode::Usage;
    }
    const auto &options = std::get<CliOptions>(parsed);
    if (options.verbose)
        Logging::enableVerbose();
    if (options.readRecords)
        return RecordFiles::run(options);
    CliApp cli(options);
    return cli.run();
}
