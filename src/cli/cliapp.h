#pragma once

#include "cli/clioptions.h"

#include <QObject>

#include <memory>

class ResultSink;
struct RunOptions;
class ProgressLine;
class StoreMemory;
struct LookupResult;

// One invocation of the tool: reads the addresses, looks them up one after the other, hands
// each result to the output as it arrives, and says how it all ended as an exit code.
class CliApp : public QObject
{
    Q_OBJECT

public:
    explicit CliApp(CliOptions options, QObject *parent = nullptr);
    ~CliApp() override;

    // Runs the whole job on the event loop; returns the exit code.
    int run();

    // How a run asks, as the options say (a queue worker's run asks the same way).
    static RunOptions lookupOptions(const CliOptions &options);

private:
    void resultArrived(const LookupResult &result);
    void fail(const QString &message, int exitCode);

    CliOptions m_options;
    std::unique_ptr<ResultSink> m_sink;
    std::unique_ptr<StoreMemory> m_store;
    ProgressLine *m_progress = nullptr;
    qsizetype m_failures = 0;
    int m_exitCode = 0; // a failure that ends the run early
    bool m_interrupted = false;
};
