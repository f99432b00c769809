#include "lookup/politescheduler.h"

#include "lookup/pacegate.h"
#include "platform/logging.h"

#include <algorithm>

PoliteScheduler::PoliteScheduler(QObject *parent) : PoliteScheduler(nullptr, parent)
{
}

PoliteScheduler::PoliteScheduler(std::unique_ptr<SchedulerClock> clock, QObject *parent)
    : QObject(parent), m_clock(clock ? std::move(clock) : std::make_unique<SteadyClock>())
{
    m_clock->setWake([this] {
        m_wakeAt = -1;
        pump();
    });
}

PoliteScheduler::~PoliteScheduler() = default;

bool PoliteScheduler::isDown(const QString &server) const
{
    const auto it = m_servers.constFind(server);
    return it != m_servers.cend() && (*it)->down;
}

qint64 PoliteScheduler::intervalMs(const QString &server) const
{
    const auto it = m_servers.constFind(server);
    return it == m_servers.cend() ? m_userDelayMs : qMax(m_userDelayMs, (*it)->backoffMs);
}

void PoliteScheduler::submit(const QString &name, quint64 tag, StartFn start, GiveUpFn giveUp)
{
    std::shared_ptr<Server> &server = m_servers[name];
    if (!server) {
        server = std::make_shared<Server>();
        server->name = name;
    }
    Job job{tag, std::move(start), std::move(giveUp), 0};
    if (server->down) {
        giveUpLater(std::move(job), GiveUp::ServerDown, server->downReason);
        return;
    }
    server->queue.push_back(std::move(job));
    ++m_queued;
    schedulePump(now());
}

void PoliteScheduler::stop()
{
    // The turns taken for requests now abandoned go back, with the usual pause after them.
    if (m_gate) {
        for (const std::shared_ptr<Server> &server : std::as_const(m_servers)) {
            if (!server->turnHeld)
                continue;
            const qint64 user = m_delay ? qMax<qint64>(0, m_delay(server->inFlight)) : 0;
            m_gate->release(server->name, qMax(user, server->backoffMs));
        }
    }
    ++m_generation;
    m_servers.clear();
    m_clock->cancelWake();
    m_wakeAt = -1;
    m_busy = 0;
    m_queued = 0;
}

void PoliteScheduler::schedulePump(qint64 atMs)
{
    // Always from the event loop: a caller's own signal handlers run first.
    if (m_wakeAt >= 0 && m_wakeAt <= atMs)
        return;
    m_wakeAt = atMs;
    m_clock->wakeAt(atMs);
}

void PoliteScheduler::pump()
{
    const qint64 t = now();
    // The servers whose turn has come, longest-waiting first.
    std::vector<Server *> ready;
    qint64 nextWake = -1;
    for (const std::shared_ptr<Server> &server : std::as_const(m_servers)) {
        if (server->busy || server->down || server->queue.empty())
            continue;
        if (server->nextAt <= t)
            ready.push_back(server.get());
        else if (nextWake < 0 || server->nextAt < nextWake)
            nextWake = server->nextAt;
    }
    std::sort(ready.begin(), ready.end(), [](const Server *a, const Server *b) {
        return a->nextAt != b->nextAt ? a->nextAt < b->nextAt : a->name < b->name;
    });
    const quint64 generation = m_generation;
    for (Server *server : ready) {
        if (m_busy >= m_maxBusy || generation != m_generation)
            break;
        if (m_gate)
            askGate(*server);
        else
            dispatch(*server);
    }
    // When every slot is busy, the next settle pumps again.
    if (nextWake >= 0 && generation == m_generation)
        schedulePump(nextWake);
}

void PoliteScheduler::dispatch(Server &server)
{
    Job job = std::move(server.queue.front());
    server.queue.pop_front();
    --m_queued;
    server.busy = true;
    ++m_busy;
    ++job.attempts;
    qCInfo(lcRun).noquote() << server.name << "request" << job.tag << "sent, attempt"
                            << job.attempts;
    if (job.attempts == 1)
        emit dispatched(job.tag);
    const QString name = server.name;
    const quint64 generation = m_generation;
    const StartFn start = job.start;
    // The settle owns the job while it is in flight.
    auto held = std::make_shared<Job>(std::move(job));
    auto settled = std::make_shared<bool>(false);
    start([this, name, generation, held, settled](const Verdict &verdict) {
        if (*settled)
            return false;
        *settled = true;
        return settle(name, generation, std::move(*held), verdict);
    });
}

void PoliteScheduler::askGate(Server &server)
{
    // The slot is held while the gate answers, so no more than maxBusy servers are asked at
    // once and the server is not asked twice.
    server.busy = true;
    ++m_busy;
    const QString name = server.name;
    const quint64 generation = m_generation;
    m_gate->acquire(
        name, [this, name, generation](qint64 waitMs) { turnAnswered(name, generation, waitMs); });
}

void PoliteScheduler::turnAnswered(const QString &name, quint64 generation, qint64 waitMs)
{
    const auto it = m_servers.find(name);
    if (generation != m_generation || it == m_servers.end()) {
        // Stopped meanwhile: a turn taken goes back unused.
        if (waitMs <= 0)
            m_gate->release(name, 0);
        return;
    }
    Server &server = **it;
    server.busy = false;
    --m_busy;
    if (waitMs > 0 || server.queue.empty() || server.down) {
        if (waitMs <= 0)
            m_gate->release(name, 0);
        // Another process has the server's turn: asked again when it should be free.
        server.nextAt = qMax(server.nextAt, now() + waitMs);
        schedulePump(now());
        return;
    }
    server.turnHeld = true;
    server.inFlight = server.queue.front().tag;
    dispatch(server);
}

bool PoliteScheduler::settle(const QString &name, quint64 generation, Job job,
                             const Verdict &verdict)
{
    if (generation != m_generation)
        return false;
    const auto it = m_servers.find(name);
    if (it == m_servers.end())
        return false;
    Server &server = **it;
    server.busy = false;
    --m_busy;
    const qint64 t = now();
    if (verdict.kind == Verdict::Kind::NotSent) {
        // Nothing reached the server: no delay, nothing counted, the gate's turn given back.
        if (server.turnHeld) {
            server.turnHeld = false;
            m_gate->release(server.name, 0);
        }
        schedulePump(t);
        return true;
    }
    ++(verdict.kind == Verdict::Kind::Unreachable ? m_unreachable : m_reached);
    const qint64 user = m_delay ? qMax<qint64>(0, m_delay(job.tag)) : 0;
    m_userDelayMs = user;

    bool proceed = true;
    bool throttled = false;
    switch (verdict.kind) {
    case Verdict::Kind::Answer:
    case Verdict::Kind::Failed:
        server.unreachableRun = 0;
        server.emptyRun = 0;
        if (verdict.kind == Verdict::Kind::Answer && ++server.goodRun >= GoodRunToRecover) {
            if (server.backoffMs > 0)
                qCInfo(lcRun).noquote() << server.name << "back to the delay after"
                                        << server.goodRun << "good answers in a row";
            server.backoffMs = 0;
        }
        break;
    case Verdict::Kind::Throttled:
        throttled = true;
        break;
    case Verdict::Kind::NotSent:
        break;
    case Verdict::Kind::EmptyClose:
        // One empty close may be chance; three in a row are a server refusing our pace. The
        // request is tried again either way.
        server.unreachableRun = 0;
        throttled = ++server.emptyRun >= MaxEmptyCloses;
        qCInfo(lcRun).noquote() << server.name << "closed without answering," << server.emptyRun
                                << "in a row";
        if (!throttled) {
            proceed = false;
            if (job.attempts >= MaxThrottledAttempts)
                giveUpLater(std::move(job), GiveUp::Throttled,
                            server.name + QStringLiteral(" closed without answering"));
            else {
                server.queue.push_front(std::move(job));
                ++m_queued;
            }
        }
        break;
    case Verdict::Kind::Unreachable:
        server.goodRun = 0;
        server.emptyRun = 0;
        qCInfo(lcRun).noquote() << server.name << "unreachable," << server.unreachableRun + 1
                                << "in a row:" << verdict.reason;
        if (++server.unreachableRun >= MaxUnreachable) {
            server.down = true;
            server.downReason = server.name + QStringLiteral(" is down: ") + verdict.reason;
            qCInfo(lcRun).noquote() << server.name << "is down for the run;" << server.queue.size()
                                    << "waiting requests given up";
            failQueued(server);
        }
        break;
    }

    qint64 waitMs = qMax(user, server.backoffMs);
    if (throttled) {
        proceed = false;
        server.goodRun = 0;
        server.emptyRun = 0;
        server.backoffMs =
            qMin(MaxIntervalMs, qMax<qint64>(1000, qMax(user, server.backoffMs) * 2));
        const bool waitTooLong = verdict.retryAfterSeconds > MaxRetryAfterSeconds;
        waitMs = qMax<qint64>(server.backoffMs,
                              qint64(qMin(verdict.retryAfterSeconds, MaxRetryAfterSeconds)) * 1000);
        qCInfo(lcRun).noquote() << server.name << "throttled request" << job.tag
                                << QStringLiteral("(attempt %1): interval %2 ms, next request in "
                                                  "%3 ms")
                                       .arg(job.attempts)
                                       .arg(server.backoffMs)
                                       .arg(waitMs);
        if (job.attempts >= MaxThrottledAttempts || waitTooLong) {
            qCInfo(lcRun).noquote()
                << server.name << "request" << job.tag << "given up after" << job.attempts
                << "attempts" << (waitTooLong ? "(asked to wait too long)" : "");
            giveUpLater(
                std::move(job), GiveUp::Throttled,
                QStringLiteral("throttled by ") + server.name +
                    (waitTooLong
                         ? QStringLiteral(" (asked to wait %1 s)").arg(verdict.retryAfterSeconds)
                         : QString()));
        } else {
            // Back at the head of its server's queue, for after the wait.
            server.queue.push_front(std::move(job));
            ++m_queued;
        }
    }
    server.nextAt = qMax(server.nextAt, t + waitMs);
    if (server.turnHeld) {
        // The whole group leaves the server alone as long as this scheduler would.
        server.turnHeld = false;
        m_gate->release(server.name, server.nextAt - t);
    }
    schedulePump(t);
    return proceed;
}

void PoliteScheduler::failQueued(Server &server)
{
    while (!server.queue.empty()) {
        giveUpLater(std::move(server.queue.front()), GiveUp::ServerDown, server.downReason);
        server.queue.pop_front();
        --m_queued;
    }
}

void PoliteScheduler::giveUpLater(Job job, GiveUp why, const QString &reason)
{
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, giveUp = std::move(job.giveUp), why, reason] {
            if (generation == m_generation && giveUp)
                giveUp(why, reason);
        },
        Qt::QueuedConnection);
}
