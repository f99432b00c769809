#pragma once

#include "lookup/lookupresult.h"
#include "lookup/sites.h"
#include "lookup/whoisfetcher.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

// What a run asks with, and how politely.
struct RunOptions
{
    // Read afresh for every address: nothing means no site is chosen (the record stays empty).
    std::function<std::optional<Site>()> site;
    // Read afresh at every pause: the pause after each lookup, in seconds as typed.
    std::function<QString()> delayText;
    SiteTable sites = SiteTable::fromEnvironment();
    FetchLimits limits;
};

// One lookup run over a fixed list of addresses, in list order. Each step is driven by a
// signal (the page's result, the pause timer, a zero-time hand-back to the event loop), so
// nothing spins while the run waits. A stop takes effect at once: it abandons the lookup or
// ends the pause under way. The run's state is announced by a signal; front ends derive what
// they show from it.
class LookupRun : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Ready,    // not started
        Running,  // looking up or pausing between lookups
        Stopping, // a stop was asked for; finished() follows from the event loop
        Finished,
    };

    LookupRun(QStringList addresses, RunOptions options, QObject *parent = nullptr);
    ~LookupRun() override;

    void start();
    void requestStop();
    State state() const { return m_state; }
    bool stopRequested() const { return m_state == State::Stopping; }
    qsizetype addressCount() const { return m_addresses.size(); }
    // True while a page is being loaded or read.
    bool isFetching() const { return m_fetcher->isFetching(); }
    WhoisFetcher &fetcher() { return *m_fetcher; }

signals:
    void stateChanged(LookupRun::State state);
    // A lookup begins: `index` counts from 0 in the address list.
    void lookupStarted(qsizetype index, const QString &address);
    // Its result, once per started lookup unless the run was stopped during it.
    void resultReady(qsizetype index, const LookupResult &result);
    // After the lookup at `index`, the delay no longer read as a whole number of seconds in
    // range: that pause was skipped.
    void delayUnreadable(qsizetype index);
    // A pause between two lookups begins.
    void pausing(int seconds);
    // Once, after the last address or after a stop.
    void finished();

private:
    void setState(State state);
    void nextAddress();
    void resultArrived(const LookupResult &result);
    void pauseThenContinue();
    void yieldThenContinue();
    void finish();

    const QStringList m_addresses;
    RunOptions m_options;
    WhoisFetcher *m_fetcher;
    QTimer m_pause;
    qsizetype m_next = 0;
    qsizetype m_current = -1;
    State m_state = State::Ready;
};
