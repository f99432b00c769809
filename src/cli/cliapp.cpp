#include "cli/cliapp.h"

#include "cli/addressinput.h"
#include "cli/clierror.h"
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

RunOptions CliApp::lookupOptions(const CliOptions &options)
{
    RunOptions run;
    run.source = [source = options.source] { return std::optional(source); };
    run.delayText = [delay = QString::number(options.delaySeconds)] { return delay; };
    run.parallel = options.parallel;
    run.whoisServer = options.whoisServer;
    run.followReferrals = options.followReferrals;
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
    // A mistyped connect-to entry would send the lookups to the real servers: refused here,
    // where the window skips it.
    QString connectToError;
    ConnectToMap::fromEnvironment(&connectToError);
    if (!connectToError.isEmpty()) {
        reportError(connectToError);
        return ExitCode::Usage;
    }

    std::unique_ptr<ResumeFile> done;
    AddressInput *input = nullptr;
    std::unique_ptr<AddressFeed> feed;
    try {
        if (m_options.resume) {
            done = std::make_unique<ResumeFile>(m_options.outputPath);
            m_failures = done->failures();
        }
        feed = std::make_unique<AddressInput>(m_options, done.get());
        input = static_cast<AddressInput *>(feed.get());
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
    RunOptions runOptions = lookupOptions(m_options);
    runOptions.memory = m_store.get();
    LookupRun lookups(std::move(feed), std::move(runOptions));
    if (!m_options.quiet && ::isatty(STDERR_FILENO))
        m_progress = new ProgressLine(STDERR_FILENO, -1, this);

    QEventLoop loop;
    connect(&lookups, &LookupRun::resultReady, this,
            [this, &lookups, input](qsizetype, const LookupResult &result) {
                if (m_exitCode != 0)
                    return;
                // The total is known once the input has been read to its end.
                if (m_progress && input->atEnd())
                    m_progress->setTotal(input->taken());
                try {
                    resultArrived(result);
                } catch (const CliError &error) {
                    fail(error.message, error.exitCode);
                    lookups.requestStop();
                }
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

    if (m_progress)
        m_progress->finish();
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
    if (m_exitCode != 0)
        return m_exitCode;
    if (m_interrupted)
        return ExitCode::Interrupted;
    return m_failures > 0 ? ExitCode::SomeFailed : ExitCode::Done;
}

void CliApp::resultArrived(const LookupResult &result)
{
    if (!result.ok())
        ++m_failures;
    m_sink->add(result);
    if (m_progress)
        m_progress->lookupDone(!result.ok());
}
