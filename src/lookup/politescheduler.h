#pragma once

#include "lookup/schedulerclock.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class PaceGate;

// How one request to a server ended, as far as politeness is concerned.
struct Verdict
{
    enum class Kind
    {
        Answer,      // a whole answer (whatever it says)
        Failed,      // the server was reached but gave no usable answer
        Throttled,   // the server asked us to slow down (HTTP 429, a rate-limit phrasing)
        EmptyClose,  // the server closed without sending a byte
        Unreachable, // the connection could not be made, or the exchange timed out or broke off
        NotSent,     // the turn went unused: nothing was sent, so the server is free at once
    };
    Kind kind = Kind::Answer;
    // Throttled: how long the server asked us to wait, or -1.
    int retryAfterSeconds = -1;
    // Unreachable: why.
    QString reason;
};

// Every request of a lookup run to a remote server goes through here, whatever the source: one
// queue per server, at most one request in flight per server, the user's delay between two
// requests to the same server (counted from the end of one to the start of the next), at most
// `maxBusy` servers with a request in flight. A server that throttles has its interval doubled
// (up to MaxIntervalMs) and the request is queued again for later; after MaxThrottledAttempts
// the request is given up. A server that cannot be reached MaxUnreachable times in a row is
// down for the run: what still waits for it is given up at once. Queued requests are small
// (two callbacks and a tag), so a long run's waiting addresses cost little. With a pace gate,
// a server's turn is also asked of the gate before each request and given back with the wait
// that follows it, so processes sharing the gate pace each server together.
class PoliteScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxIntervalMs = 120000;
    // The longest Retry-After waited out; a server that asks for more is taken as throttling
    // the request for good, so one answer cannot hold the run (and every row after it) for
    // days.
    static constexpr int MaxRetryAfterSeconds = 300;
    static constexpr int MaxThrottledAttempts = 3;
    static constexpr int MaxUnreachable = 3;
    static constexpr int MaxEmptyCloses = 3;
    // Good answers in a row after which a throttled server is back at the user's delay.
    static constexpr int GoodRunToRecover = 5;

    enum class GiveUp
    {
        Throttled,  // throttled MaxThrottledAttempts times
        ServerDown, // the server is down for the run
    };
    // Returns true when the caller goes on with the answer; false when the scheduler keeps the
    // request (queued again for later, or given up through its GiveUpFn).
    using Settle = std::function<bool(const Verdict &)>;
    using StartFn = std::function<void(const Settle &settle)>;
    using GiveUpFn = std::function<void(GiveUp why, const QString &reason)>;
    // The pause after an answer, in milliseconds; read afresh after every answer. The tag is
    // the request's.
    using DelayFn = std::function<qint64(quint64 tag)>;

    explicit PoliteScheduler(QObject *parent = nullptr);
    // Reads the time from, and sets its wake-ups on, `clock` (a SteadyClock when null).
    explicit PoliteScheduler(std::unique_ptr<SchedulerClock> clock, QObject *parent = nullptr);
    ~PoliteScheduler() override;

    void setMaxBusy(int servers) { m_maxBusy = qMax(1, servers); }
    // Not owned; none: each server is paced by this scheduler alone.
    void setPaceGate(PaceGate *gate) { m_gate = gate; }
    void setDelay(DelayFn delay) { m_delay = std::move(delay); }

    // Queues a request to `server` ("host" or "host:port"). `start` is called when its turn
    // comes (never from inside submit) and must call `settle` exactly once, later, when the
    // request has ended; after a throttled settle it may be called again. `giveUp` is called
    // (later) instead when the scheduler ends the request.
    void submit(const QString &server, quint64 tag, StartFn start, GiveUpFn giveUp);
    // Drops every queued request and forgets those in flight (their settle does nothing).
    void stop();

    int busyCount() const { return m_busy; }
    // Requests ended so far whose server was reached (any verdict but Unreachable), and those
    // whose server could not be reached: a run that reached none found no network.
    qsizetype reachedCount() const { return m_reached; }
    qsizetype unreachableCount() const { return m_unreachable; }
    qsizetype queuedCount() const { return m_queued; }
    bool isDown(const QString &server) const;
    // The server's current interval between requests (ms), as of its last answer.
    qint64 intervalMs(const QString &server) const;

signals:
    // A request is sent for the first time.
    void dispatched(quint64 tag);

private:
    struct Job
    {
        quint64 tag = 0;
        StartFn start;
        GiveUpFn giveUp;
        int attempts = 0;
    };
    struct Server
    {
        QString name;
        std::deque<Job> queue;
        bool busy = false;
        bool turnHeld = false; // the pace gate's turn, taken for the request in flight
        quint64 inFlight = 0;  // that request's tag
        bool down = false;
        QString downReason;
        qint64 nextAt = 0;    // no request before this time (ms on the clock)
        qint64 backoffMs = 0; // 0: the user's delay applies
        int goodRun = 0;
        int unreachableRun = 0;
        int emptyRun = 0;
    };

    void schedulePump(qint64 atMs);
    void pump();
    void dispatch(Server &server);
    void askGate(Server &server);
    void turnAnswered(const QString &name, quint64 generation, qint64 waitMs);
    bool settle(const QString &name, quint64 generation, Job job, const Verdict &verdict);
    void giveUpLater(Job job, GiveUp why, const QString &reason);
    void failQueued(Server &server);
    qint64 now() const { return m_clock->nowMs(); }

    QHash<QString, std::shared_ptr<Server>> m_servers;
    std::unique_ptr<SchedulerClock> m_clock;
    qint64 m_wakeAt = -1;
    DelayFn m_delay;
    PaceGate *m_gate = nullptr;
    qint64 m_userDelayMs = 0; // as last read
    int m_maxBusy = 8;
    int m_busy = 0;
    qsizetype m_queued = 0;
    qsizetype m_reached = 0;
    qsizetype m_unreachable = 0;
    quint64 m_generation = 0;
};
