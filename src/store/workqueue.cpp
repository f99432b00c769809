#include "store/workqueue.h"

#include "store/sqlanswerstore.h"
#include "store/storesql.h"

#include "store/storestatement.h"

std::unique_ptr<WorkQueue> WorkQueue::open(const StoreLocation &location, const QString &queue)
{
    std::unique_ptr<WorkQueue> opened(
        new WorkQueue(SqlAnswerStore::open(location, SqlAnswerStore::Access::ReadWrite), queue));
    if (!opened->m_session->problem() && !opened->m_session->dialect().sharedWork)
        opened->m_problem = {StoreProblem::Kind::CannotOpen,
                             QStringLiteral("the work queue needs a store on PostgreSQL "
                                            "(--store postgresql://USER@HOST[:PORT]/DB), not ") +
                                 location.shown()};
    return opened;
}

WorkQueue::WorkQueue(std::unique_ptr<SqlAnswerStore> session, QString queue)
    : m_session(std::move(session)), m_queue(std::move(queue))
{
}

WorkQueue::~WorkQueue() = default;

StoreProblem WorkQueue::problem() const
{
    return m_problem ? m_problem : m_session->problem();
}

std::optional<qint64> WorkQueue::enqueue(const QStringList &addresses)
{
    if (problem())
        return std::nullopt;
    if (addresses.isEmpty())
        return 0;
    StoreStatement &insert = m_session->prepared(StoreSql::Enqueue);
    insert.bindValue(0, m_queue);
    insert.bindValue(1, addresses.join(QLatin1Char('\n')));
    if (!m_session->exec(insert))
        return std::nullopt;
    const qint64 added = insert.rowsAffected();
    insert.finish();
    return added;
}

std::optional<qint64> WorkQueue::registerWorker(const QString &host, qint64 pid,
                                                const QString &paceGroup, qint64 leaseMs)
{
    if (problem())
        return std::nullopt;
    StoreStatement &insert = m_session->prepared(StoreSql::RegisterWorker);
    insert.bindValue(0, m_queue);
    insert.bindValue(1, host);
    insert.bindValue(2, pid);
    insert.bindValue(3, paceGroup.isEmpty() ? QVariant(QMetaType(QMetaType::QString))
                                            : QVariant(paceGroup));
    insert.bindValue(4, leaseMs);
    if (!m_session->exec(insert) || !insert.next())
        return std::nullopt;
    const qint64 id = insert.value(0).toLongLong();
    insert.finish();
    return id;
}

bool WorkQueue::heartbeat(qint64 worker, qint64 leaseMs, double rate, bool *wasLost)
{
    if (problem())
        return false;
    StoreStatement &update = m_session->prepared(StoreSql::Heartbeat);
    update.bindValue(0, leaseMs);
    update.bindValue(1, rate);
    update.bindValue(2, worker);
    update.bindValue(3, worker);
    if (!m_session->exec(update))
        return false;
    const bool found = update.next();
    if (wasLost)
        *wasLost = found && update.value(0).toString() != QLatin1String("working");
    update.finish();
    return found;
}

bool WorkQueue::endWorker(qint64 worker, bool finished)
{
    if (problem() || !m_session->beginWrite())
        return false;
    StoreStatement &release = m_session->prepared(StoreSql::ReleaseItems);
    release.bindValue(0, m_queue);
    release.bindValue(1, worker);
    if (!m_session->exec(release)) {
        m_session->rollback();
        return false;
    }
    StoreStatement &end = m_session->prepared(StoreSql::EndWorker);
    end.bindValue(0, finished ? QStringLiteral("finished") : QStringLiteral("stopped"));
    end.bindValue(1, worker);
    if (!m_session->exec(end)) {
        m_session->rollback();
        return false;
    }
    return m_session->commit();
}

std::optional<qint64> WorkQueue::reclaimExpired()
{
    if (problem() || !m_session->beginWrite())
        return std::nullopt;
    StoreStatement &lost = m_session->prepared(StoreSql::MarkLostWorkers);
    lost.bindValue(0, m_queue);
    if (!m_session->exec(lost)) {
        m_session->rollback();
        return std::nullopt;
    }
    StoreStatement &reclaim = m_session->prepared(StoreSql::ReclaimItems);
    reclaim.bindValue(0, MaxAttempts);
    reclaim.bindValue(1, MaxAttempts);
    reclaim.bindValue(2, MaxAttempts);
    reclaim.bindValue(3,
                      QStringLiteral("given up: %1 workers stopped while asking").arg(MaxAttempts));
    reclaim.bindValue(4, m_queue);
    reclaim.bindValue(5, m_queue);
    if (!m_session->exec(reclaim)) {
        m_session->rollback();
        return std::nullopt;
    }
    const qint64 handedBack = reclaim.rowsAffected();
    if (!m_session->commit())
        return std::nullopt;
    return handedBack;
}

std::optional<QList<WorkQueue::Item>> WorkQueue::claim(qint64 worker, int max)
{
    if (problem())
        return std::nullopt;
    StoreStatement &claim = m_session->prepared(StoreSql::Claim);
    claim.bindValue(0, m_queue);
    claim.bindValue(1, max);
    claim.bindValue(2, worker);
    if (!m_session->exec(claim))
        return std::nullopt;
    QList<Item> items;
    while (claim.next())
        items.append({claim.value(0).toLongLong(), claim.value(1).toString()});
    claim.finish();
    // Oldest first, as they were added.
    std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.id < b.id; });
    return items;
}

std::optional<bool> WorkQueue::hasOpenWork(qint64 worker)
{
    if (problem())
        return std::nullopt;
    StoreStatement &open = m_session->prepared(StoreSql::OpenWork);
    open.bindValue(0, m_queue);
    open.bindValue(1, worker);
    if (!m_session->exec(open) || !open.next())
        return std::nullopt;
    const bool any = open.value(0).toBool();
    open.finish();
    return any;
}

std::optional<WorkQueue::Counts> WorkQueue::counts()
{
    if (problem())
        return std::nullopt;
    StoreStatement &query = m_session->prepared(StoreSql::QueueCounts);
    query.bindValue(0, m_queue);
    if (!m_session->exec(query))
        return std::nullopt;
    Counts counts;
    while (query.next()) {
        const QString state = query.value(0).toString();
        const qint64 n = query.value(1).toLongLong();
        if (state == QLatin1String("pending"))
            counts.pending = n;
        else if (state == QLatin1String("leased"))
            counts.leased = n;
        else if (state == QLatin1String("done"))
            counts.done = n;
        else if (state == QLatin1String("failed"))
            counts.failed = n;
    }
    query.finish();
    return counts;
}

std::optional<QList<WorkQueue::Worker>> WorkQueue::workers(qint64 *databaseNowMs)
{
    if (problem())
        return std::nullopt;
    StoreStatement &query = m_session->prepared(StoreSql::QueueWorkers);
    query.bindValue(0, m_queue);
    if (!m_session->exec(query))
        return std::nullopt;
    QList<Worker> out;
    while (query.next()) {
        Worker w;
        w.id = query.value(0).toLongLong();
        w.host = query.value(1).toString();
        w.pid = query.value(2).toLongLong();
        w.paceGroup = query.value(3).toString();
        w.state = query.value(4).toString();
        w.startedAtMs = query.value(5).toLongLong();
        w.lastSeenMs = query.value(6).toLongLong();
        w.leaseUntilMs = query.value(7).toLongLong();
        w.done = query.value(8).toLongLong();
        w.failed = query.value(9).toLongLong();
        w.rate = query.value(10).toDouble();
        if (databaseNowMs)
            *databaseNowMs = query.value(11).toLongLong();
        out.append(w);
    }
    query.finish();
    return out;
}
