#pragma once

#include "store/answerstore.h"
#include "store/storelocation.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class SqlAnswerStore;

// A list of addresses that many workers share through the store's database (PostgreSQL): each
// address an item that is pending, leased by a worker, done or failed. A worker claims a batch
// of pending items (rows other workers are claiming are skipped, not waited for) and holds them
// while its lease runs; it renews the lease while it works. The answers finish their items in
// the writer's transactions (PendingAnswer::queueItem), so an item is never done without its
// answer kept. When a worker stops renewing (killed, powered off, cut off), any other worker
// hands its items back to the queue. Used from one thread; every call returns nothing (or
// false) when the database failed, problem() saying why.
class WorkQueue
{
public:
    // An item taken by a worker that stopped without finishing it this many times is given up
    // (failed), so one address that kills its workers cannot stop the queue.
    static constexpr int MaxAttempts = 5;

    struct Item
    {
        qint64 id = 0;
        QString address;
    };
    struct Counts
    {
        qint64 pending = 0;
        qint64 leased = 0;
        qint64 done = 0;
        qint64 failed = 0;
    };
    struct Worker
    {
        qint64 id = 0;
        QString host;
        qint64 pid = 0;
        QString paceGroup;
        QString state; // working, lost (its lease ran out), finished, stopped
        qint64 startedAtMs = 0;
        qint64 lastSeenMs = 0;
        qint64 leaseUntilMs = 0;
        qint64 done = 0;
        qint64 failed = 0;
        double rate = 0; // lookups a second, as the worker last said
    };

    // Opens `queue` in the store at `location`, making the store's schema if needed. Always
    // returns a queue: check problem().
    static std::unique_ptr<WorkQueue> open(const StoreLocation &location, const QString &queue);
    ~WorkQueue();

    StoreProblem problem() const;
    const QString &name() const { return m_queue; }

    // Adds the addresses (one transaction); one already open (pending or leased) in this queue
    // is not added again. How many were added.
    std::optional<qint64> enqueue(const QStringList &addresses);

    // A worker's life: registered with a lease of `leaseMs`, renewed by heartbeats (which say
    // the worker's rate; `wasLost` tells whether the lease had run out and its items had been
    // handed back meanwhile), ended as finished or stopped with its unfinished items handed
    // back.
    std::optional<qint64> registerWorker(const QString &host, qint64 pid, const QString &paceGroup,
                                         qint64 leaseMs);
    bool heartbeat(qint64 worker, qint64 leaseMs, double rate, bool *wasLost = nullptr);
    bool endWorker(qint64 worker, bool finished);

    // Hands the items of workers whose lease ran out back to the queue (an item given up after
    // MaxAttempts). How many went back or were given up.
    std::optional<qint64> reclaimExpired();
    // Leases up to `max` pending items to `worker`, oldest first.
    std::optional<QList<Item>> claim(qint64 worker, int max);
    // Whether there is work left that `worker` might yet do: pending items, or items other
    // workers hold (which come back if those workers die).
    std::optional<bool> hasOpenWork(qint64 worker);

    // The progress view.
    std::optional<Counts> counts();
    std::optional<QList<Worker>> workers(qint64 *databaseNowMs = nullptr);

private:
    WorkQueue(std::unique_ptr<SqlAnswerStore> session, QString queue);

    std::unique_ptr<SqlAnswerStore> m_session;
    QString m_queue;
    StoreProblem m_problem; // the queue's own trouble (not a shared-work database)
};
