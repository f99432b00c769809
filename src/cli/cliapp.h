#pragma once

#include "cli/clioptions.h"
#include "cli/runsummary.h"
#include "net/proxysettings.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <optional>

class AnswerSaver;
class ResultSink;
struct RunOptions;
class ProgressLine;
class StoreMemory;
struct LookupResult;

// One invocation of the tool: reads the addresses, looks them up one after the other, hands
// each result to the output as it arrives, and says how it all ended as an exit code and a
// summary line.
class CliApp : public QObject
{
    Q_OBJECT

public:
    explicit CliApp(CliOptions options, QObject *parent = nullptr);
    ~CliApp() override;

    // Runs the whole job on the event loop; returns the exit code.
    int run();

    // How a run asks, as the options say (a queue worker's run asks the same way): at most
    // `parallel` servers busy, budgetedParallel's answer.
    static RunOptions lookupOptions(const CliOptions &options, int parallel);
    // --parallel lowered to what the process's open-file limit allows, said when it is.
    static int budgetedParallel(const CliOptions &options);
    // The proxies to use: --proxy, else the environment's; nothing (said) for a bad --proxy.
    static std::optional<ProxySettings> proxyOf(const CliOptions &options);

private:
    void resultArrived(const LookupResult &result);
    void fail(const QString &message, int exitCode);
    void reportSummary();

    CliOptions m_options;
    std::unique_ptr<ResultSink> m_sink;
    std::unique_ptr<StoreMemory> m_store;
    std::unique_ptr<AnswerSaver> m_answers;
    ProgressLine *m_progress = nullptr;
    RunSummary m_summary;
    QElapsedTimer m_clock;
    qsizetype m_earlierFailures = 0; // in the file a resumed run appends to
    int m_exitCode = 0;              // a failure that ends the run early
    bool m_interrupted = false;
};
