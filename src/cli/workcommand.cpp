#include "cli/workcommand.h"

#include "cli/cliapp.h"
#include "cli/clierror.h"
#include "cli/clioptions.h"
#include "cli/exitcode.h"
#include "cli/interruptwatcher.h"
#include "cli/progressline.h"
#include "lookup/answermemory.h"
#include "platform/logging.h"
#include "run/lookuprun.h"
#include "store/sharedpace.h"
#include "store/sqlanswerstore.h"
#include "store/storememory.h"
#include "store/storewriter.h"
#include "store/workqueue.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QSysInfo>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <variant>

#include <unistd.h>

namespace {

// An empty queue is asked again this often (and the addresses of workers gone looked for).
constexpr qint64 PollMs = 1000;
// The rate a worker reports is over this much of its recent past.
constexpr qint64 RateWindowMs = 60000;

const char *const Description =
    "Looks up the addresses of the queue NAME (quorvane-cli enqueue adds them) side by side\n"
    "with any number of workers on other machines, and keeps every answer in the store. Each\n"
    "worker claims a batch of addresses at a time under a lease that it renews while it works;\n"
    "an answer is kept in the same transaction that marks its address done, so a worker killed\n"
    "at any moment (kill -9, power off, network cut) loses nothing: once its lease runs out,\n"
    "its unfinished addresses go back to the queue for the others. The worker exits 0 when the\n"
    "queue holds nothing pending and no other worker holds any addresses; with --follow it\n"
    "keeps waiting for more. The lookup's options mean what they mean there (quorvane-cli\n"
    "--help).";

const char *const ExitCodes =
    "\n"
    "Exit codes: 0 the queue is empty; 2 usage error; 3 the store failed (it cannot be reached,\n"
    "refuses the login, or went away): no address is marked done without its answer kept, and\n"
    "the others go back to the queue; 130 interrupted (SIGINT, SIGTERM): the answers finished\n"
    "are kept and the addresses not yet looked up go back to the queue at once.\n";

// The help, laid out as the other commands' (its options read by the same rules).
void printHelp()
{
    QCommandLineParser help;
    help.setApplicationDescription(QLatin1String(Description));
    const auto option = [&](const QStringList &names, const char *what,
                            const char *value = nullptr) {
        help.addOption(QCommandLineOption(names, QLatin1String(what),
                                          value ? QLatin1String(value) : QString()));
    };
    option({QStringLiteral("h"), QStringLiteral("help")}, "Shows this help.");
    option({QStringLiteral("store")},
           "The PostgreSQL store: postgresql://USER@HOST[:PORT]/DB; the password comes from "
           "PGPASSWORD or ~/.pgpass, never from the command line.",
           "URL");
    option({QStringLiteral("queue")}, "The queue to work on.", "NAME");
    option({QStringLiteral("pace-group")},
           "Workers with the same NAME (machines behind one public address) share each "
           "server's delay through the database, so together they ask a server no faster than "
           "one worker would; workers in different groups, or in none, pace each server by "
           "themselves.",
           "NAME");
    option({QStringLiteral("follow")},
           "Waits for new addresses when the queue is empty instead of exiting.");
    option({QStringLiteral("lease")},
           "How long the addresses claimed stay this worker's without a sign of life from it "
           "(default 60, at least 3); renewed every third of it.",
           "SECONDS");
    option({QStringLiteral("batch")},
           "Addresses claimed at a time, 1 to 10000 (default 100); the worker holds at most N.",
           "N");
    option({QStringLiteral("s"), QStringLiteral("source")},
           "Where to ask: auto, whois, rdap, site1, site2 or site3 (default auto).", "SOURCE");
    option({QStringLiteral("d"), QStringLiteral("delay")},
           "Seconds between two requests to the same server (default 1).", "SECONDS");
    option({QStringLiteral("timeout")}, "Seconds an answer may take (default 30).", "SECONDS");
    option({QStringLiteral("p"), QStringLiteral("parallel")},
           "At most N servers busy at once, 1 to 1000 (default 8).", "N");
    option({QStringLiteral("whois-server")}, "Port 43: asks this server first instead of IANA.",
           "HOST[:PORT]");
    option({QStringLiteral("no-referrals")}, "Port 43: follows no referral.");
    option({QStringLiteral("max-age")},
           "Marks an address done from the store when its latest answer from the same source "
           "is younger than DURATION, asking no server.",
           "DURATION");
    option({QStringLiteral("proxy")}, "Connects through this proxy.", "URL");
    option({QStringLiteral("keep-notices")}, "Whois, rdap, auto: keeps notice lines as fields.");
    option({QStringLiteral("q"), QStringLiteral("quiet")}, "No progress line.");
    option({QStringLiteral("v"), QStringLiteral("verbose")},
           "Logs what the run does on standard error.");
    std::fputs(qPrintable(QStringLiteral("Usage: quorvane-cli work --store URL --queue NAME "
                                         "[options]\n\n") +
                          help.helpText().section(QLatin1Char('\n'), 1) + QLatin1String(ExitCodes)),
               stdout);
}

struct WorkOptions
{
    StoreLocation store;
    QString queue;
    QString paceGroup;
    bool follow = false;
    qint64 leaseMs = 60000;
    int batch = 100;
    CliOptions lookup;
};

int usage(const QString &message)
{
    std::fprintf(stderr, "quorvane-cli work: %s\nTry 'quorvane-cli work --help'.\n",
                 qPrintable(message));
    return ExitCode::Usage;
}

// The worker's own options; the rest are the lookup's, read as the lookup reads them. An exit
// code when the arguments end the command (help, a usage error).
std::variant<WorkOptions, int> parse(const QStringList &arguments)
{
    WorkOptions options;
    QString storeText;
    QString leaseText;
    QString batchText;
    bool leaseSet = false;
    bool batchSet = false;
    QStringList rest{arguments.value(0)};
    const struct
    {
        const char *name;
        QString *value;
        bool *set;
    } valued[] = {{"--store", &storeText, nullptr},
                  {"--queue", &options.queue, nullptr},
                  {"--pace-group", &options.paceGroup, nullptr},
                  {"--lease", &leaseText, &leaseSet},
                  {"--batch", &batchText, &batchSet}};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            printHelp();
            return ExitCode::Done;
        }
        if (argument == QLatin1String("--follow")) {
            options.follow = true;
            continue;
        }
        bool taken = false;
        for (const auto &option : valued) {
            const QLatin1String name(option.name);
            if (argument == name) {
                if (i + 1 >= arguments.size())
                    return usage(name + QStringLiteral(" needs a value"));
                *option.value = arguments[++i];
            } else if (argument.startsWith(name + QLatin1Char('='))) {
                *option.value = argument.mid(name.size() + 1);
            } else {
                continue;
            }
            if (option.set)
                *option.set = true;
            taken = true;
            break;
        }
        if (!taken)
            rest << argument;
    }

    const CliArguments::Parsed lookup = CliArguments::parse(rest);
    if (const auto *error = std::get_if<CliArguments::UsageError>(&lookup))
        return usage(error->message);
    if (std::get_if<CliArguments::Info>(&lookup)) {
        printHelp();
        return ExitCode::Done;
    }
    options.lookup = std::get<CliOptions>(lookup);
    const CliOptions &l = options.lookup;
    if (l.verbose)
        Logging::enableVerbose();
    if (!l.inputFiles.isEmpty() || !l.addresses.isEmpty())
        return usage(QStringLiteral("the addresses come from the queue: no files or --address "
                                    "(quorvane-cli enqueue adds them)"));
    if (!l.outputPath.isEmpty() || l.resume || l.readRecords || l.noStore ||
        !l.storePath.isEmpty() || !l.saveAnswersFolder.isEmpty())
        return usage(QStringLiteral("the answers go to the store: no --output, --resume, "
                                    "--read-records, --save-answers or --no-store"));

    if (storeText.isEmpty())
        return usage(QStringLiteral("--store postgresql://USER@HOST[:PORT]/DB is needed"));
    QString error;
    const std::optional<StoreLocation> store = StoreLocation::parse(storeText, &error);
    if (!store)
        return usage(error);
    if (!store->isPostgres())
        return usage(QStringLiteral("the work queue needs a store on PostgreSQL (--store "
                                    "postgresql://USER@HOST[:PORT]/DB), not ") +
                     storeText);
    options.store = *store;
    options.queue = options.queue.trimmed();
    if (options.queue.isEmpty())
        return usage(QStringLiteral("--queue NAME is needed"));
    options.paceGroup = options.paceGroup.trimmed();
    if (leaseSet) {
        bool number = false;
        const int seconds = leaseText.trimmed().toInt(&number);
        if (!number || seconds < 3 || seconds > 86400)
            return usage(QStringLiteral("--lease \"") + leaseText +
                         QStringLiteral("\" is not a number of seconds from 3 to 86400"));
        options.leaseMs = qint64(seconds) * 1000;
    }
    if (batchSet) {
        bool number = false;
        options.batch = batchText.trimmed().toInt(&number);
        if (!number || options.batch < 1 || options.batch > 10000)
            return usage(QStringLiteral("--batch \"") + batchText +
                         QStringLiteral("\" is not a number from 1 to 10000"));
    }
    return options;
}

// Hands the run the addresses the worker claimed, as it has room for them.
class QueueFeed : public AddressFeed
{
public:
    QueueFeed(std::function<QStringList(qsizetype)> take, std::function<bool()> ended)
        : m_take(std::move(take)), m_ended(std::move(ended))
    {
    }
    QStringList take(qsizetype max) override { return m_take(max); }
    bool atEnd() const override { return m_ended(); }
    void wake() { ready(); }

private:
    std::function<QStringList(qsizetype)> m_take;
    std::function<bool()> m_ended;
};

class Worker : public QObject, public AnswerMemory
{
public:
    explicit Worker(WorkOptions options) : m_options(std::move(options)) {}

    int run();

    // The run's memory: answers from the store when --max-age allows, and every answer kept
    // with the queue item it finishes.
    std::optional<LookupResult> reusable(const QString &address, SourceKind kind) override;
    void keep(LookupResult &result) override;

private:
    QStringList take(qsizetype max);
    void refill();
    void refillSoon();
    void checkEnd();
    void poll();
    void beat();
    void fail(const QString &message);
    void finishItem(const QString &address, PendingAnswer pending, bool failed);
    double rate();

    WorkOptions m_options;
    std::unique_ptr<StoreWriter> m_writer;
    std::unique_ptr<WorkQueue> m_queue;
    std::unique_ptr<SqlAnswerStore> m_reader;
    std::unique_ptr<SharedPace> m_pace;
    QueueFeed *m_feed = nullptr;
    LookupRun *m_run = nullptr;
    ProgressLine *m_progress = nullptr;
    qint64 m_worker = 0;

    QHash<QString, qint64> m_items; // claimed and not finished: address -> item
    QStringList m_buffer;           // claimed, not yet taken by the run
    bool m_ended = false;
    bool m_idle = false;        // the last claim found nothing: the poll asks again
    bool m_feedWaiting = false; // the run asked for more than there was
    bool m_refillPosted = false;
    bool m_stopping = false;
    QTimer m_poll;
    QTimer m_heartbeat;
    QElapsedTimer m_sinceBeat;

    qint64 m_unwritten = 0; // answers handed to the writer, not yet in a transaction
    qint64 m_committed = 0; // items this worker marked done or failed
    qint64 m_lost = 0;      // answers not kept: their items were no longer this worker's
    std::deque<std::pair<qint64, qint64>> m_samples; // (ms, committed) for the rate
    QElapsedTimer m_clock;

    QString m_failure;
    bool m_interrupted = false;
};

double Worker::rate()
{
    const qint64 now = m_clock.elapsed();
    m_samples.emplace_back(now, m_committed);
    while (m_samples.size() > 2 && now - m_samples[1].first >= RateWindowMs)
        m_samples.pop_front();
    const auto &[since, before] = m_samples.front();
    return now > since ? double(m_committed - before) * 1000.0 / double(now - since) : 0.0;
}

void Worker::fail(const QString &message)
{
    if (!m_failure.isEmpty())
        return;
    m_failure = message.isEmpty() ? QStringLiteral("the store stopped answering") : message;
    reportError(m_failure);
    m_stopping = true;
    m_poll.stop();
    m_heartbeat.stop();
    if (m_run)
        m_run->requestStop();
}

QStringList Worker::take(qsizetype max)
{
    if (m_buffer.isEmpty())
        refill();
    const qsizetype n = qMin(max, m_buffer.size());
    QStringList out = m_buffer.mid(0, n);
    m_buffer.remove(0, n);
    m_feedWaiting = out.size() < max && !m_ended;
    return out;
}

void Worker::refill()
{
    // At most `batch` addresses held; more are claimed once half of them are done, unless the
    // store falls behind keeping the answers.
    const qsizetype held = m_items.size();
    if (m_ended || m_stopping || m_idle || held > m_options.batch / 2 ||
        m_unwritten > 2 * StoreWriter::BatchSize + m_options.batch)
        return;
    if (m_sinceBeat.elapsed() >= m_options.leaseMs / 3)
        beat();
    if (m_stopping)
        return;
    const std::optional<QList<WorkQueue::Item>> items =
        m_queue->claim(m_worker, int(m_options.batch - held));
    if (!items) {
        fail(m_queue->problem().message);
        return;
    }
    for (const WorkQueue::Item &item : *items) {
        // One address is open at most once in a queue; a second claim of it (its earlier item
        // handed back while this worker still asks) finishes the newer item.
        if (!m_items.contains(item.address))
            m_buffer << item.address;
        m_items.insert(item.address, item.id);
    }
    if (items->isEmpty()) {
        m_idle = true;
        checkEnd();
    }
}

void Worker::refillSoon()
{
    if (m_refillPosted || !m_feedWaiting)
        return;
    m_refillPosted = true;
    QTimer::singleShot(0, this, [this] {
        m_refillPosted = false;
        if (m_stopping)
            return;
        if (m_buffer.isEmpty())
            refill();
        if (m_feedWaiting && (!m_buffer.isEmpty() || m_ended)) {
            m_feedWaiting = false;
            m_feed->wake();
        }
    });
}

void Worker::checkEnd()
{
    // Done when nothing is held here, nothing waits and nothing is held elsewhere (addresses
    // held by a worker that dies come back and are asked here).
    if (m_ended || m_stopping || !m_items.isEmpty())
        return;
    const std::optional<bool> open = m_queue->hasOpenWork(m_worker);
    if (!open) {
        fail(m_queue->problem().message);
        return;
    }
    if (!*open && !m_options.follow) {
        m_ended = true;
        m_poll.stop();
        QTimer::singleShot(0, this, [this] { m_feed->wake(); });
        return;
    }
    if (!m_poll.isActive())
        m_poll.start();
}

void Worker::poll()
{
    if (m_stopping || m_ended)
        return;
    // The addresses of workers gone come back here.
    if (!m_queue->reclaimExpired()) {
        fail(m_queue->problem().message);
        return;
    }
    m_idle = false;
    refill();
    if (!m_idle)
        m_poll.stop();
    if (m_feedWaiting && (!m_buffer.isEmpty() || m_ended)) {
        m_feedWaiting = false;
        m_feed->wake();
    }
}

void Worker::beat()
{
    m_sinceBeat.restart();
    bool lost = false;
    if (!m_queue->heartbeat(m_worker, m_options.leaseMs, rate(), &lost)) {
        fail(m_queue->problem().message);
        return;
    }
    if (lost) {
        // Held up past its lease: its addresses went back to the queue meanwhile. Those still
        // waiting here are someone else's now; the answers under way are kept only if their
        // addresses were not taken.
        reportError(QStringLiteral("this worker's lease ran out; its addresses went back to "
                                   "the queue"));
        for (const QString &address : std::as_const(m_buffer))
            m_items.remove(address);
        m_buffer.clear();
    }
    if (!m_queue->reclaimExpired())
        fail(m_queue->problem().message);
}

void Worker::finishItem(const QString &address, PendingAnswer pending, bool failed)
{
    const auto it = m_items.find(address);
    if (it == m_items.end())
        return;
    pending.queueItem = it.value();
    pending.queueWorker = m_worker;
    m_items.erase(it);
    m_writer->add(std::move(pending));
    ++m_unwritten;
    if (m_progress)
        m_progress->lookupDone(failed);
    if (m_idle && m_items.isEmpty())
        QTimer::singleShot(0, this, [this] { checkEnd(); });
    refillSoon();
}

std::optional<LookupResult> Worker::reusable(const QString &address, SourceKind kind)
{
    if (!m_reader || !m_items.contains(address))
        return std::nullopt;
    std::optional<LookupResult> kept =
        StoreMemory::youngAnswer(*m_reader, address, kind, m_options.lookup.maxAgeMs);
    if (!kept)
        return std::nullopt;
    // Kept already: only its item is marked done.
    PendingAnswer pending;
    pending.result = *kept;
    pending.asked = askedForm(address);
    pending.keepAnswer = false;
    finishItem(address, std::move(pending), false);
    return kept;
}

void Worker::keep(LookupResult &result)
{
    PendingAnswer pending;
    pending.asked = askedForm(result.address);
    pending.digest = answerDigest(result);
    pending.result = result;
    finishItem(result.address, std::move(pending), !isReusable(result));
}

int Worker::run()
{
    m_clock.start();
    QString connectToError;
    ConnectToMap::fromEnvironment(&connectToError);
    if (!connectToError.isEmpty()) {
        reportError(connectToError);
        return ExitCode::Usage;
    }

    // The writer makes the store's schema; the queue, the pace and the reader find it.
    m_writer = std::make_unique<StoreWriter>(m_options.store);
    if (m_writer->openProblem()) {
        reportError(m_writer->openProblem().message);
        return ExitCode::NotWritable;
    }
    connect(m_writer.get(), &StoreWriter::failed, this,
            [this](const QString &message) { fail(message); });
    connect(m_writer.get(), &StoreWriter::written, this,
            [this](qint64 done, qint64 failed, qint64 lost) {
                m_committed += done + failed;
                m_lost += lost;
                m_unwritten -= done + failed + lost;
                refillSoon();
            });
    m_queue = WorkQueue::open(m_options.store, m_options.queue);
    const std::optional<qint64> worker =
        m_queue->registerWorker(QSysInfo::machineHostName(), QCoreApplication::applicationPid(),
                                m_options.paceGroup, m_options.leaseMs);
    if (!worker) {
        reportError(m_queue->problem().message);
        return ExitCode::NotWritable;
    }
    m_worker = *worker;
    m_sinceBeat.start();
    if (m_options.lookup.maxAgeMs > 0)
        m_reader = SqlAnswerStore::open(m_options.store, SqlAnswerStore::Access::ReadOnly);
    if (!m_options.paceGroup.isEmpty()) {
        m_pace = std::make_unique<SharedPace>(m_options.store, m_options.paceGroup);
        if (!m_pace->problem().isEmpty()) {
            reportError(m_pace->problem());
            m_queue->endWorker(m_worker, false);
            return ExitCode::NotWritable;
        }
        connect(m_pace.get(), &SharedPace::failed, this,
                [this](const QString &message) { fail(message); });
    }

    m_poll.setInterval(int(PollMs));
    connect(&m_poll, &QTimer::timeout, this, [this] { poll(); });
    m_heartbeat.setInterval(int(m_options.leaseMs / 3));
    connect(&m_heartbeat, &QTimer::timeout, this, [this] {
        if (!m_stopping)
            beat();
    });
    m_heartbeat.start();

    InterruptWatcher interrupts;
    const std::optional<ProxySettings> proxy = CliApp::proxyOf(m_options.lookup);
    if (!proxy) {
        m_queue->endWorker(m_worker, false);
        return ExitCode::Usage;
    }
    RunOptions runOptions =
        CliApp::lookupOptions(m_options.lookup, CliApp::budgetedParallel(m_options.lookup));
    runOptions.proxy = *proxy;
    runOptions.memory = this;
    auto feed = std::make_unique<QueueFeed>([this](qsizetype max) { return take(max); },
                                            [this] { return m_ended; });
    m_feed = feed.get();
    LookupRun lookups(std::move(feed), std::move(runOptions));
    m_run = &lookups;
    if (m_pace)
        lookups.scheduler().setPaceGate(m_pace.get());
    // The log's lines would tear a self-updating line on the same terminal.
    if (!m_options.lookup.quiet && !m_options.lookup.verbose && ::isatty(STDERR_FILENO))
        m_progress = new ProgressLine(STDERR_FILENO, -1, this);

    QEventLoop loop;
    connect(&interrupts, &InterruptWatcher::interrupted, this, [this, &lookups] {
        m_interrupted = true;
        m_stopping = true;
        lookups.requestStop();
    });
    bool finished = false;
    connect(&lookups, &LookupRun::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    lookups.start();
    if (!finished)
        loop.exec();
    m_stopping = true;
    m_poll.stop();
    m_heartbeat.stop();
    if (m_progress)
        m_progress->stop();

    // The answers finished are kept (each with its item marked), then the items not finished go
    // back to the queue at once.
    const QString unsaid = m_writer->finish();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!unsaid.isEmpty() && m_failure.isEmpty())
        fail(unsaid);
    lookups.scheduler().setPaceGate(nullptr);
    m_pace.reset();
    m_run = nullptr;
    if (m_failure.isEmpty() && !m_queue->endWorker(m_worker, !m_interrupted))
        fail(m_queue->problem().message);
    if (!m_failure.isEmpty())
        return ExitCode::NotWritable;
    return m_interrupted ? ExitCode::Interrupted : ExitCode::Done;
}

} // namespace

namespace WorkCommand {

int run(const QStringList &arguments)
{
    std::variant<WorkOptions, int> parsed = parse(arguments);
    if (const int *exitCode = std::get_if<int>(&parsed))
        return *exitCode;
    Worker worker(std::move(std::get<WorkOptions>(parsed)));
    return worker.run();
}

} // namespace WorkCommand
