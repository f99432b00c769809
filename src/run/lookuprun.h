#pragma once

#include "lookup/addressfeed.h"
#include "lookup/answermemory.h"
#include "lookup/lookupresult.h"
#include "lookup/politescheduler.h"
#include "lookup/source.h"
#include "net/connectto.h"
#include "net/whois43client.h"
#include "rdap/rdapbootstrap.h"
#include "web/sitefetcher.h"
#include "web/sites.h"
#include "whois/whoisreferral.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class HttpClient;
class HttpRdapFetch;
class RdapBootstrapStore;
class RdapSource;
class WhoisSource;

// What a run asks with, and how politely.
struct RunOptions
{
    // Read afresh for every address: the source to ask. When unset, `site` decides.
    std::function<std::optional<SourceKind>()> source;
    // Read afresh for every address when `source` is unset: nothing means no site is chosen
    // (the record stays empty).
    std::function<std::optional<Site>()> site;
    // Read afresh after every answer: the pause before the next request to the same server,
    // in seconds as typed.
    std::function<QString()> delayText;
    // How the delay reads: rounded to a whole second in the user's locale (the window), or to
    // the millisecond in the C locale (the command line: "0.5" is half a second).
    bool delayInWholeSeconds = true;
    // At most this many servers with a request in flight at once.
    int parallel = 8;
    SiteTable sites = SiteTable::fromEnvironment();
    FetchLimits limits;
    // Port 43 and RDAP: where connections really go (QUORVANE_CONNECT_TO, read once).
    ConnectToMap connectTo = environmentConnectTo();
    Whois43Limits whoisLimits;
    // RDAP: the deadline of each answer.
    int rdapTimeoutMs = 30000;
    // Port 43: ask this server first instead of IANA; its referrals are followed unless
    // followReferrals is off (then it is the only server asked).
    std::optional<WhoisServer> whoisServer;
    bool followReferrals = true;
    // Where IANA's port-43 answers are kept; empty: $XDG_CACHE_HOME/Quorvane.
    QString cacheFolder;
    // Results keep the answer they were read from (LookupResult::answer); otherwise it is
    // dropped as each lookup ends.
    bool keepAnswers = false;
    // The RDAP bootstrap to use; unset: the cached files (refreshed when a day old) or the
    // built-in snapshot.
    std::shared_ptr<const RdapBootstrap> rdapBootstrap;
    // Answers kept from earlier runs: a young enough one is given instead of asking, and every
    // finished lookup is kept there. Not owned; none: every address is asked and nothing kept.
    AnswerMemory *memory = nullptr;

    // QUORVANE_CONNECT_TO, read on first use and kept for the life of the process.
    static ConnectToMap environmentConnectTo();
};

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

private:
    struct Slot
    {
        bool started = false;
        bool done = false;
        bool delayUnreadable = false;
        QString address;
        LookupResult result;
    };

    void setState(State state);
    void admit();
    void startLookup(qsizetype index);
    // The source the options choose now, if any.
    std::optional<SourceKind> chosenSource() const;
    Source *sourceFor(SourceKind kind);
    void lookupDone(qsizetype index, const LookupResult &result);
    void announce();
    void flush();
    Slot *slot(qsizetype index);
    qint64 readDelayMs(quint64 tag);
    void fed();
    bool allDone() const;
    void finish();

    std::unique_ptr<AddressFeed> m_feed;
    RunOptions m_options;
    PoliteScheduler *m_scheduler;
    std::array<Source *, 6> m_sources{};
    HttpClient *m_rdapHttp = nullptr;
    HttpRdapFetch *m_rdapFetch = nullptr;
    HttpRdapFetch *m_bootstrapFetch = nullptr;
    RdapBootstrapStore *m_bootstrapStore = nullptr;
    QTimer m_pause;
    std::deque<Slot> m_slots; // from m_emitted to m_admitted
    qsizetype m_admitted = 0;
    qsizetype m_announced = 0;
    qsizetype m_emitted = 0;
    qint64 m_lastDelayMs = 0;
    State m_state = State::Ready;
};
