#include "cli/cliapp.h"

#include "cli/addressinput.h"
#include "cli/answersaver.h"
#include "cli/clierror.h"
#include "cli/descriptorbudget.h"
#include "cli/exitcode.h"
#include "cli/interruptwatcher.h"
#include "cli/jsonlsink.h"
#include "cli/progressline.h"
#include "cli/resumefile.h"
#include "cli/tablesink.h"
#include "run/lookuprun.h"
#include "store/storefile.h"
#include "store/storememory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>

#include <unistd.h>

namespace {

std::unique_ptr<ResultSink> makeSink(const CliOptions &options)
{
    if (options.format == CliOptions::Format::Jsonl)
        return std::make_unique<JsonlSink>(options.outputPath, options.resume
                                                                   ? OutputFile::Mode::Append
                                                                   : OutputFile::Mode::Replace);
    return std::make_unique<TableSink>(options);
}

} // namespace

CliApp::CliApp(CliOptions options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
}

CliApp::~CliApp() = default;

int CliApp::budgetedParallel(const CliOptions &options)
{
    // Every busy server holds a few descriptors: as many as the hard limit allows, and no more
    // servers busy than their descriptors fit in, so no lookup fails for want of one.
    const long fileLimit = DescriptorBudget::raiseOpenFileLimit();
    const int parallel = DescriptorBudget::parallelWithin(
        options.parallel, fileLimit, DescriptorBudget::openDescriptors(),
        options.source == SourceKind::Whois ? DescriptorBudget::PerPortFortyThreeServer
                                            : DescriptorBudget::PerHttpServer);
    if (parallel < options.parallel && !options.quiet)
        reportError(QStringLiteral("--parallel %1 lowered to %2: the process may open only %3 "
                                   "files (ulimit -n)")
                        .arg(options.parallel)
                        .arg(parallel)
                        .arg(fileLimit));
    return parallel;
}

std::optional<ProxySettings> CliApp::proxyOf(const CliOptions &options)
{
    if (options.proxy.isEmpty())
        return RunOptions::environmentProxy();
    QString proxyError;
    const std::optional<ProxySettings> named = ProxySettings::forEverything(
        options.proxy, ProxySettings::noProxyFromEnvironment(), &proxyError);
    if (!named)
        reportError(QStringLiteral("--proxy: ") + proxyError);
    return named;
}

RunOptions CliApp::lookupOptions(const CliOptions &options, int parallel)
{
    RunOptions run;
    run.source = [source = options.source] { return std::optional(source); };
    run.delayText = [delay = options.delayText] { return delay; };
    run.delayInWholeSeconds = false;
    run.pauseAfterLast = false;
    run.keepNotices = options.keepNotices;
    run.parallel = parallel;
    run.whoisServer = options.whoisServer;
    run.followReferrals = options.followReferrals;
    run.limits.timeoutMs = options.timeoutMs;
    run.whoisLimits.answerTimeoutMs = options.timeoutMs;
    run.whoisLimits.connectTimeoutMs = qMin(run.whoisLimits.connectTimeoutMs, options.timeoutMs);
    run.rdapTimeoutMs = options.timeoutMs;
    return run;
}

void CliApp::fail(const QString &message, int exitCode)
{
    if (m_exitCode == 0) {
        reportError(message);
        m_exitCode = exitCode;
    }
}

int CliApp::run()
{
    m_clock.start();
    // A mistyped connect-to entry would send the lookups to the real servers: refused here,
    // where the window skips it.
    QString connectToError;
    ConnectToMap::fromEnvironment(&connectToError);
    if (!connectToError.isEmpty()) {
        reportError(connectToError);
        return ExitCode::Usage;
    }
    const std::optional<ProxySettings> proxy = proxyOf(m_options);
    if (!proxy)
        return ExitCode::Usage;
    if (m_options.resume && QFileInfo::exists(m_options.outputPath) &&
        !QFileInfo(m_options.outputPath).isFile()) {
        reportError(QStringLiteral("--resume needs a regular file: ") + m_options.outputPath);
        return ExitCode::Usage;
    }

    const int parallel = budgetedParallel(m_options);

    std::unique_ptr<ResumeFile> done;
    AddressInput *input = nullptr;
    std::unique_ptr<AddressFeed> feed;
    try {
        if (m_options.resume) {
            done = std::make_unique<ResumeFile>(m_options.outputPath, m_options.retryFailed);
            m_earlierFailures = done->failures();
        }
        auto addresses = std::make_unique<AddressInput>(m_options, done.get());
        input = addresses.get();
        feed = std::move(addresses);
        if (!m_options.saveAnswersFolder.isEmpty())
            m_answers = std::make_unique<AnswerSaver>(m_options.saveAnswersFolder);
        m_sink = makeSink(m_options);
    } catch (const CliError &error) {
        reportError(error.message);
        return error.exitCode;
    }

    // The store's trouble is said once; the run goes on without it and its exit code stays.
    if (!m_options.noStore) {
        // The options were checked: a postgresql:// store's URL reads.
        const StoreLocation location =
            m_options.storePath.isEmpty()
                ? StoreLocation::file(StoreFile::defaultPath())
                : StoreLocation::parse(m_options.storePath, nullptr).value_or(StoreLocation());
        m_store = std::make_unique<StoreMemory>(location, m_options.maxAgeMs);
        if (!m_store->openProblem().isEmpty())
            reportError(m_store->openProblem());
        connect(m_store.get(), &StoreMemory::problem, this, &reportError);
    }

    InterruptWatcher interrupts;
    RunOptions runOptions = lookupOptions(m_options, parallel);
    runOptions.proxy = *proxy;
    runOptions.memory = m_store.get();
    runOptions.keepAnswers = m_answers != nullptr;
    LookupRun lookups(std::move(feed), std::move(runOptions));
    // Said once a run (the RDAP bootstrap could not be fetched, or kept).
    connect(&lookups, &LookupRun::notice, this, [](const QString &text) { reportError(text); });
    // The log's lines would tear a self-updating line on the same terminal.
    if (!m_options.quiet && !m_options.verbose && ::isatty(STDERR_FILENO))
        m_progress = new ProgressLine(STDERR_FILENO, -1, this);

    const auto deliver = [this, &lookups](const LookupResult &result) {
        try {
            resultArrived(result);
        } catch (const CliError &error) {
            fail(error.message, error.exitCode);
            lookups.requestStop();
        }
    };
    QEventLoop loop;
    connect(&lookups, &LookupRun::resultReady, this,
            [this, input, &deliver](qsizetype, const LookupResult &result) {
                if (m_exitCode != 0)
                    return;
                // The total is known once the input has been read to its end.
                if (m_progress && input->atEnd())
                    m_progress->setTotal(input->taken());
                deliver(result);
            });
    connect(&interrupts, &InterruptWatcher::interrupted, this, [this, &lookups] {
        m_interrupted = true;
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

    // Stopped: the lookups that ended behind one still under way are written too (after the
    // rows in order, in list order among themselves), so a resumed run does not ask them again.
    if (m_interrupted && m_exitCode == 0) {
        for (auto &[index, result] : lookups.takeWaitingResults()) {
            if (m_exitCode != 0)
                break;
            deliver(result);
        }
    }
    // The tables go to standard output now, which may be the progress line's terminal.
    if (m_progress)
        m_progress->stop();
    if (m_store) {
        const QString unsaid = m_store->finish();
        // A failure the writer said just before is still on its way to this thread.
        QCoreApplication::sendPostedEvents(m_store.get(), QEvent::MetaCall);
        if (!unsaid.isEmpty())
            reportError(unsaid);
    }
    // Input that could not be read to its end: what was read is looked up and written.
    if (input->error())
        fail(input->error()->message, input->error()->exitCode);
    try {
        m_sink->finish();
    } catch (const CliError &error) {
        fail(error.message, error.exitCode);
    }
    reportSummary();
    if (m_exitCode != 0)
        return m_exitCode;
    if (m_interrupted)
        return ExitCode::Interrupted;
    // Requests were made and not one reached its server: no network, not a bad list.
    const PoliteScheduler &scheduler = lookups.scheduler();
    if (scheduler.reachedCount() == 0 && scheduler.unreachableCount() > 0)
        return ExitCode::NoNetwork;
    return m_summary.unanswered() + m_earlierFailures > 0 ? ExitCode::SomeFailed : ExitCode::Done;
}

void CliApp::reportSummary()
{
    if (m_options.quiet)
        return;
    QString line = QStringLiteral("quorvane-cli: ");
    if (m_interrupted)
        line += QStringLiteral("interrupted: ");
    line += m_summary.text(double(m_clock.nsecsElapsed()) / 1e9);
    if (m_progress) {
        m_progress->finish(line);
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    [[maybe_unused]] const ssize_t n =
        ::write(STDERR_FILENO, bytes.constData(), size_t(bytes.size()));
}

void CliApp::resultArrived(const LookupResult &result)
{
    m_summary.add(result);
    if (m_progress && m_sink->writesToTerminal())
        m_progress->erase();
    m_sink->add(result);
    if (m_answers)
        m_answers->save(result);
    if (m_progress)
        m_progress->lookupDone(!RunSummary::answered(result));
}
