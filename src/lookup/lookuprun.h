#pragma once

#include "lookup/sites.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

class ResultsTable;
class WhoisFetcher;

// One lookup run over a fixed list of addresses. Each step is driven by a signal (the page's
// reply, the pause timer, a zero-time hand-back to the event loop), so the window stays
// responsive and nothing spins while the run waits. A stop takes effect at once: it aborts a
// page load or ends a pause under way.
class LookupRun : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Ready,
        Fetching,
        Placing,
        Pausing,
        Yielding,
        Finished
    };

    // `site` is read afresh for every address (nothing means no site is chosen); `delayText`
    // is read afresh at every pause.
    LookupRun(ResultsTable &table, QStringList addresses, std::function<std::optional<Site>()> site,
              std::function<QString()> delayText, QObject *parent = nullptr);
    ~LookupRun() override;

    void start();
    void requestStop();
    bool stopRequested() const { return m_stopRequested; }
    State state() const { return m_state; }
    WhoisFetcher &fetcher() { return *m_fetcher; }

signals:
    // Once, after the last address or after a stop.
    void finished();
    // A pause between two lookups begins.
    void pausing(int seconds);

private:
    void nextAddress();
    void recordArrived(bool ok, const QString &record);
    void pauseThenContinue();
    void yieldThenContinue();
    void finish();

    ResultsTable &m_table;
    const QStringList m_addresses;
    std::function<std::optional<Site>()> m_site;
    std::function<QString()> m_delayText;
    WhoisFetcher *m_fetcher;
    QTimer m_pause;
    qsizetype m_next = 0;
    int m_row = 0;
    bool m_stopRequested = false;
    State m_state = State::Ready;
};
