#pragma once

#include "lookup/addressfeed.h"
#include "lookup/answermemory.h"
#include "lookup/lookupresult.h"
#include "lookup/politescheduler.h"
#include "lookup/source.h"
#include "run/runoptions.h"
#include "run/runsources.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

// One lookup run over a list of addresses, held whole or taken from a feed as the run goes. Every
// request goes through the run's polite scheduler (one queue per server, the delay between two
// requests to the same server, at most `parallel` servers busy), so lookups to different servers
// overlap while each server sees one request at a time. Rows come out in list order whatever order
// the answers arrive in: lookupStarted and resultReady follow the list, early results wait for the
// earlier ones. Addresses are taken from the feed into work a window at a time, so a list of a
// million streamed through a feed costs no more than the window. Each step is driven by a signal,
// so nothing spins while the run waits. A stop takes effect at once. The run's state is announced
// by a signal; front ends derive what they show from it.
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
    // Addresses in work (started or waiting for a server) or waiting for an earlier row.
    static constexpr qsizetype Window = 10000;
    // Once the window is full, addresses are taken again when this many rows have left it.
    static constexpr qsizetype AdmitStep = 256;

    LookupRun(QStringList addresses, RunOptions options, QObject *parent = nullptr);
    // The run takes its addresses from `feed` as it has room for them.
    LookupRun(std::unique_ptr<AddressFeed> feed, RunOptions options, QObject *parent = nullptr);
    ~LookupRun() override;

    void start();
    void requestStop();
    State state() const { return m_state; }
    bool stopRequested() const { return m_state == State::Stopping; }
    // Addresses taken from the feed so far.
    qsizetype takenCount() const { return m_admitted; }
    // Rows whose result has been given (resultReady), failures included.
    qsizetype doneCount() const { return m_emitted; }
    // True while a request is in flight.
    bool isFetching() const { return m_scheduler->busyCount() > 0; }
    PoliteScheduler &scheduler() { return *m_scheduler; }
    // After a stop: the lookups that had ended but were still waiting for an earlier one to end
    // (resultReady follows the list), in list order with their index. Each is handed out once.
    std::vector<std::pair<qsizetype, LookupResult>> takeWaitingResults();

signals:
    void stateChanged(LookupRun::State state);
    // A lookup begins (its first request is sent): `index` counts from 0 in the address list.
    // In list order.
    void lookupStarted(qsizetype index, const QString &address);
    // Its result, once per started lookup unless the run was stopped first. In list order.
    void resultReady(qsizetype index, const LookupResult &result);
    // After the lookup at `index`, the delay no longer read as a whole number of seconds in
    // range: that pause was skipped.
    void delayUnreadable(qsizetype index);
    // A pause begins with no request in flight (with one server: the pause between lookups).
    void pausing(int seconds);
    // Once, after the last address or after a stop.
    void finished();
    // Something about the run the user should hear of once (the RDAP bootstrap could not be
    // fetched, or not kept).
    void notice(const QString &text);

private:
    struct Slot
    {
        bool started = false;
        bool done = false;
        bool delayUnreadable = false;
        QString address;
        // Made when the lookup ends: the window of waiting addresses holds no empty results.
        std::unique_ptr<LookupResult> result;
    };

    void setState(State state);
    void admit();
    void startLookup(qsizetype index);
    // A kept answer when the memory has one young enough, else the source is asked.
    void reuseOrAsk(qsizetype index, SourceKind kind);
    void ask(qsizetype index, std::optional<SourceKind> kind);
    // The source the options choose now, if any.
    std::optional<SourceKind> chosenSource() const;
    void lookupDone(qsizetype index, const LookupResult &result);
    void announce();
    void flush();
    Slot *slot(qsizetype index);
    qint64 readDelayMs(quint64 tag);
    void fed();
    bool allDone() const;
    // The pause after the last answer holds the end of the run back (the window's run only).
    bool heldByPause() const;
    void finish();

    std::unique_ptr<AddressFeed> m_feed;
    RunOptions m_options;
    PoliteScheduler *m_scheduler;
    std::unique_ptr<RunSources> m_sources;
    QTimer m_pause;
    std::deque<Slot> m_slots; // from m_emitted to m_admitted
    qsizetype m_admitted = 0;
    qsizetype m_announced = 0;
    qsizetype m_emitted = 0;
    qint64 m_lastDelayMs = 0;
    State m_state = State::Ready;
};
