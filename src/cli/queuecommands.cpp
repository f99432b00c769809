#include "cli/queuecommands.h"

#include "cli/addressinput.h"
#include "cli/clierror.h"
#include "cli/clioptions.h"
#include "cli/duration.h"
#include "cli/exitcode.h"
#include "cli/jsonline.h"
#include "cli/workcommand.h"
#include "store/workqueue.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cstdio>

namespace {

// Addresses go into the queue this many at a time, one transaction each, so a list of millions
// streams through.
constexpr qsizetype EnqueueBatch = 10000;

const char *const EnqueueDescription =
    "Adds the addresses of the files (one per line; standard input with none or for \"-\") to "
    "the queue NAME in the PostgreSQL store, for `quorvane-cli work` to look up on any number "
    "of machines. An address already pending in the queue is not added again. Prints how many "
    "were added.";
const char *const QueueDescription =
    "The progress of the queue NAME: its addresses pending, leased by a worker, done and "
    "failed; each worker's host, process, pace group, state, counts, rate and when it was last "
    "heard from; and the time left at the workers' present rate. -f jsonl writes it as one JSON "
    "object for scripts.";

int usage(const QString &command, const QString &message)
{
    std::fprintf(stderr, "quorvane-cli %s: %s\nTry 'quorvane-cli %s --help'.\n",
                 qPrintable(command), qPrintable(message), qPrintable(command));
    return ExitCode::Usage;
}

// The queue named by --store and --queue, or a usage error (exit 2) or a store that failed
// (exit 3) said.
std::unique_ptr<WorkQueue> openQueue(const QString &command, const QString &storeText,
                                     const QString &queueName, int *exitCode)
{
    *exitCode = ExitCode::Usage;
    if (storeText.isEmpty()) {
        usage(command, QStringLiteral("--store postgresql://USER@HOST[:PORT]/DB is needed"));
        return nullptr;
    }
    if (queueName.trimmed().isEmpty()) {
        usage(command, QStringLiteral("--queue NAME is needed"));
        return nullptr;
    }
    QString error;
    const std::optional<StoreLocation> location = StoreLocation::parse(storeText, &error);
    if (!location) {
        usage(command, error);
        return nullptr;
    }
    if (!location->isPostgres()) {
        usage(command, QStringLiteral("the work queue needs a store on PostgreSQL (--store "
                                      "postgresql://USER@HOST[:PORT]/DB), not ") +
                           storeText);
        return nullptr;
    }
    std::unique_ptr<WorkQueue> queue = WorkQueue::open(*location, queueName.trimmed());
    if (queue->problem()) {
        reportError(queue->problem().message);
        *exitCode = ExitCode::NotWritable;
        return nullptr;
    }
    *exitCode = ExitCode::Done;
    return queue;
}

int enqueue(const QStringList &arguments)
{
    const QString command = QStringLiteral("enqueue");
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(EnqueueDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption store(QStringLiteral("store"),
                                   QStringLiteral("The PostgreSQL store: "
                                                  "postgresql://USER@HOST[:PORT]/DB (the password "
                                                  "from PGPASSWORD or ~/.pgpass)."),
                                   QStringLiteral("URL"));
    const QCommandLineOption queueName(QStringLiteral("queue"), QStringLiteral("The queue."),
                                       QStringLiteral("NAME"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Prints nothing."));
    parser.addOptions({help, store, queueName, quiet});
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("List files, one address per line (- for "
                                                "standard input)."),
                                 QStringLiteral("[FILE...]"));
    if (!parser.parse(arguments))
        return usage(command, parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(QStringLiteral("Usage: quorvane-cli enqueue --store URL --queue "
                                             "NAME [FILE...]\n\n") +
                              parser.helpText().section(QLatin1Char('\n'), 1)),
                   stdout);
        return ExitCode::Done;
    }
    int exitCode = 0;
    const std::unique_ptr<WorkQueue> queue =
        openQueue(command, parser.value(store), parser.value(queueName), &exitCode);
    if (!queue)
        return exitCode;

    CliOptions options;
    for (const QString &file : parser.positionalArguments())
        options.inputs.append({CliOptions::Input::Kind::File, file});
    if (options.inputs.isEmpty())
        options.inputs.append({CliOptions::Input::Kind::File, QStringLiteral("-")});
    qint64 added = 0;
    qint64 read = 0;
    try {
        AddressInput input(options, nullptr);
        QEventLoop wait;
        input.setOnReady([&wait] { wait.quit(); });
        QStringList batch;
        const auto send = [&] {
            const std::optional<qint64> n = queue->enqueue(batch);
            if (!n)
                throw CliError{ExitCode::NotWritable, queue->problem().message};
            added += *n;
            batch.clear();
        };
        while (!input.atEnd()) {
            const QStringList lines = input.take(EnqueueBatch - batch.size());
            for (const QString &line : lines) {
                const QString address = line.trimmed();
                if (address.isEmpty())
                    continue;
                batch << address;
                ++read;
            }
            if (batch.size() >= EnqueueBatch)
                send();
            else if (lines.isEmpty() && !input.atEnd())
                wait.exec(); // a pipe with nothing to read yet
        }
        send();
        // What was added stays added; the rest of a broken input is said.
        if (input.error())
            throw *input.error();
    } catch (const CliError &error) {
        if (added > 0 && !parser.isSet(quiet))
            std::printf("%lld added\n", static_cast<long long>(added));
        reportError(error.message);
        return error.exitCode;
    }
    if (!parser.isSet(quiet))
        std::printf("%lld added to queue %s (%lld already pending)\n",
                    static_cast<long long>(added), qPrintable(queue->name()),
                    static_cast<long long>(read - added));
    return ExitCode::Done;
}

QString ago(qint64 ms)
{
    return ms < 1000 ? QStringLiteral("now") : Duration::text(ms) + QStringLiteral(" ago");
}

int view(const QStringList &arguments)
{
    const QString command = QStringLiteral("queue");
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(QueueDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption store(QStringLiteral("store"),
                                   QStringLiteral("The PostgreSQL store: "
                                                  "postgresql://USER@HOST[:PORT]/DB."),
                                   QStringLiteral("URL"));
    const QCommandLineOption queueName(QStringLiteral("queue"), QStringLiteral("The queue."),
                                       QStringLiteral("NAME"));
    const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")},
                                    QStringLiteral("text (the default) or jsonl."),
                                    QStringLiteral("FORMAT"));
    parser.addOptions({help, store, queueName, format});
    if (!parser.parse(arguments))
        return usage(command, parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(QStringLiteral("Usage: quorvane-cli queue --store URL --queue NAME "
                                             "[-f jsonl]\n\n") +
                              parser.helpText().section(QLatin1Char('\n'), 1)),
                   stdout);
        return ExitCode::Done;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(command,
                     QStringLiteral("unexpected argument ") + parser.positionalArguments().first());
    const QString formatName = parser.value(format).toLower();
    const bool jsonl = formatName == QLatin1String("jsonl");
    if (parser.isSet(format) && !jsonl && formatName != QLatin1String("text"))
        return usage(command, QStringLiteral("unknown format \"") + parser.value(format) +
                                  QStringLiteral("\": text or jsonl"));
    int exitCode = 0;
    const std::unique_ptr<WorkQueue> queue =
        openQueue(command, parser.value(store), parser.value(queueName), &exitCode);
    if (!queue)
        return exitCode;

    const std::optional<WorkQueue::Counts> counts = queue->counts();
    qint64 now = 0;
    const std::optional<QList<WorkQueue::Worker>> workers = queue->workers(&now);
    if (!counts || !workers) {
        reportError(queue->problem().message);
        return ExitCode::NotWritable;
    }
    // The rate of the workers still alive; the time left at that rate.
    double rate = 0;
    for (const WorkQueue::Worker &worker : *workers) {
        if (worker.state == QLatin1String("working") && worker.leaseUntilMs >= now)
            rate += worker.rate;
    }
    const qint64 left = counts->pending + counts->leased;
    const qint64 total = left + counts->done + counts->failed;
    // -1: not known (no worker at work).
    const qint64 leftMs = left == 0 ? 0 : rate > 0 ? qint64(double(left) / rate * 1000) : -1;

    if (jsonl) {
        QJsonObject object;
        object.insert(QLatin1String("queue"), queue->name());
        object.insert(QLatin1String("pending"), counts->pending);
        object.insert(QLatin1String("leased"), counts->leased);
        object.insert(QLatin1String("done"), counts->done);
        object.insert(QLatin1String("failed"), counts->failed);
        object.insert(QLatin1String("total"), total);
        object.insert(QLatin1String("rate"), rate);
        object.insert(QLatin1String("seconds_left"),
                      leftMs >= 0 ? QJsonValue(double(leftMs) / 1000) : QJsonValue());
        QJsonArray list;
        for (const WorkQueue::Worker &worker : *workers) {
            QJsonObject w;
            w.insert(QLatin1String("worker"), worker.id);
            w.insert(QLatin1String("host"), worker.host);
            w.insert(QLatin1String("pid"), worker.pid);
            w.insert(QLatin1String("pace_group"),
                     worker.paceGroup.isEmpty() ? QJsonValue() : QJsonValue(worker.paceGroup));
            w.insert(QLatin1String("state"), worker.state);
            w.insert(QLatin1String("done"), worker.done);
            w.insert(QLatin1String("failed"), worker.failed);
            w.insert(QLatin1String("rate"), worker.rate);
            w.insert(QLatin1String("started_at"), JsonLine::utcText(worker.startedAtMs));
            w.insert(QLatin1String("last_seen"), JsonLine::utcText(worker.lastSeenMs));
            list.append(w);
        }
        object.insert(QLatin1String("workers"), list);
        std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).append('\n').constData(),
                   stdout);
        return ExitCode::Done;
    }

    const QLocale c = QLocale::c();
    const auto n = [&](qint64 value) { return c.toString(value); };
    QString out = QStringLiteral("queue %1: %2 pending, %3 leased, %4 done, %5 failed of %6\n")
                      .arg(queue->name(), n(counts->pending), n(counts->leased), n(counts->done),
                           n(counts->failed), n(total));
    out += QStringLiteral("rate %1 lookups/s, ").arg(rate, 0, 'f', 1);
    out += leftMs >= 0 ? QStringLiteral("time left %1\n").arg(Duration::text(leftMs))
                       : QStringLiteral("time left unknown (no worker at work)\n");
    if (!workers->isEmpty()) {
        QList<QStringList> rows{
            {QStringLiteral("worker"), QStringLiteral("host"), QStringLiteral("pid"),
             QStringLiteral("pace group"), QStringLiteral("state"), QStringLiteral("done"),
             QStringLiteral("failed"), QStringLiteral("rate/s"), QStringLiteral("last seen")}};
        for (const WorkQueue::Worker &worker : *workers)
            rows.append({QString::number(worker.id), worker.host, QString::number(worker.pid),
                         worker.paceGroup.isEmpty() ? QStringLiteral("-") : worker.paceGroup,
                         worker.state, n(worker.done), n(worker.failed),
                         QString::number(worker.rate, 'f', 1), ago(now - worker.lastSeenMs)});
        QList<qsizetype> widths(rows.first().size(), 0);
        for (const QStringList &row : rows) {
            for (qsizetype i = 0; i < row.size(); ++i)
                widths[i] = qMax(widths[i], row[i].size());
        }
        for (const QStringList &row : rows) {
            QString line;
            for (qsizetype i = 0; i < row.size(); ++i)
                line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
            out += line + QLatin1Char('\n');
        }
    }
    std::fputs(out.toUtf8().constData(), stdout);
    return ExitCode::Done;
}

struct Command
{
    const char *name;
    int (*run)(const QStringList &arguments);
};

const Command Commands[] = {
    {"enqueue", enqueue},
    {"work", WorkCommand::run},
    {"queue", view},
};

} // namespace

namespace QueueCommands {

bool isCommand(const QString &firstArgument)
{
    for (const Command &command : Commands) {
        if (firstArgument == QLatin1String(command.name))
            return true;
    }
    return false;
}

int run(const QStringList &arguments)
{
    QStringList rest = arguments;
    const QString name = rest.takeAt(1);
    for (const Command &command : Commands) {
        if (name == QLatin1String(command.name))
            return command.run(rest);
    }
    return ExitCode::Usage;
}

} // namespace QueueCommands
