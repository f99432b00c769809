#include "store/storewriter.h"

#include "store/sqlanswerstore.h"

#include <QTimer>
#include <QWaitCondition>

class StoreWriter::Worker : public QObject
{
public:
    Worker(StoreWriter &owner, StoreLocation location)
        : m_owner(owner), m_location(std::move(location))
    {
    }

    // On the writer's thread.
    StoreProblem open()
    {
        m_store = SqlAnswerStore::open(m_location, SqlAnswerStore::Access::ReadWrite);
        m_timer = new QTimer(this);
        m_timer->setInterval(BatchMs);
        connect(m_timer, &QTimer::timeout, this, [this] { writePending(); });
        m_timer->start();
        m_dead = !m_store->writable();
        return m_store->problem();
    }

    // Any thread. True when this answer makes a batch full.
    bool add(PendingAnswer answer)
    {
        QMutexLocker lock(&m_mutex);
        if (m_dead)
            return false;
        m_pending.push_back(std::move(answer));
        return m_pending.size() % BatchSize == 0;
    }

    std::size_t waiting()
    {
        QMutexLocker lock(&m_mutex);
        return m_pending.size();
    }

    // Any thread but the writer's: while a full batch waits and the one before it is still
    // being written, the caller waits for the writer to take it, so that answers coming faster
    // than the disk takes them do not pile up without end (ten thousand lookups a second of a
    // 3.5 KB record gained 200 MiB in 100,000). A store that failed or is busy with another
    // process holds no one up: its answers wait in memory as before.
    void waitForRoom()
    {
        QMutexLocker lock(&m_mutex);
        while (m_pending.size() >= MaxPending && !m_dead && !m_stalled)
            m_roomFree.wait(&m_mutex);
    }

    // On the writer's thread: false when answers were left for a busy store.
    bool writePending(bool sayFailure = true)
    {
        std::vector<PendingAnswer> batch;
        {
            QMutexLocker lock(&m_mutex);
            batch.swap(m_pending);
            m_roomFree.wakeAll();
        }
        std::size_t done = 0;
        while (done < batch.size() && !m_dead) {
            const std::size_t n = std::min<std::size_t>(BatchSize, batch.size() - done);
            if (m_store->write(std::span(batch).subspan(done, n))) {
                done += n;
                const QueueMarks marks = m_store->lastMarks();
                if (marks.done + marks.failed + marks.lost > 0)
                    emit m_owner.written(marks.done, marks.failed, marks.lost);
                continue;
            }
            if (m_store->busy())
                break; // the next tick tries again
            m_dead = true;
            m_failure = m_store->problem().message;
            if (sayFailure)
                emit m_owner.failed(m_failure);
        }
        QMutexLocker lock(&m_mutex);
        m_roomFree.wakeAll();
        if (m_dead) {
            m_pending.clear();
            return true;
        }
        // What could not be written yet goes back in front of what came meanwhile.
        m_stalled = done < batch.size();
        if (m_stalled) {
            batch.erase(batch.begin(), batch.begin() + qsizetype(done));
            batch.insert(batch.end(), std::make_move_iterator(m_pending.begin()),
                         std::make_move_iterator(m_pending.end()));
            m_pending.swap(batch);
            return false;
        }
        return true;
    }

    // The last answers: a store busy for long (each try waits out the busy timeout) is given
    // up on after a few tries and said so.
    QString close()
    {
        // The timer belongs to this thread: it goes here, not where the worker is deleted.
        delete m_timer;
        m_timer = nullptr;
        const bool alreadyDead = m_dead;
        bool written = false;
        for (int attempt = 0; attempt < 3 && !written; ++attempt)
            written = writePending(false);
        QString problem;
        if (!written) {
            QMutexLocker lock(&m_mutex);
            problem = QStringLiteral("the answer store stayed busy: the last %1 answers are not "
                                     "kept")
                          .arg(m_pending.size());
            m_pending.clear();
        } else if (m_dead && !alreadyDead) {
            problem = m_failure;
        }
        if (m_store && written)
            m_store->emptyLog();
        m_store.reset();
        return problem;
    }

private:
    StoreWriter &m_owner;
    StoreLocation m_location;
    std::unique_ptr<SqlAnswerStore> m_store;
    QTimer *m_timer = nullptr;
    QMutex m_mutex;
    QWaitCondition m_roomFree;
    std::vector<PendingAnswer> m_pending;
    bool m_dead = false;
    // The last write found the store busy (another process): adding waits for nothing.
    bool m_stalled = false;
    QString m_failure;
};

StoreWriter::StoreWriter(const StoreLocation &location, QObject *parent) : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("answer store"));
    m_thread.start();
    m_worker = new Worker(*this, location);
    m_worker->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_worker, [this] { m_openProblem = m_worker->open(); }, Qt::BlockingQueuedConnection);
    m_writing = m_openProblem.kind == StoreProblem::Kind::None;
}

StoreWriter::~StoreWriter()
{
    finish();
}

QString StoreWriter::finish()
{
    if (m_finished)
        return {};
    m_finished = true;
    m_writing = false;
    QString problem;
    QMetaObject::invokeMethod(
        m_worker, [this, &problem] { problem = m_worker->close(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    // A deleteLater posted to the thread could land after its loop ended and leak the worker;
    // with the thread gone nothing else touches it, so it is deleted here.
    delete m_worker;
    m_worker = nullptr;
    return problem;
}

void StoreWriter::add(PendingAnswer answer)
{
    if (!m_writing)
        return;
    if (m_worker->add(std::move(answer))) {
        QMetaObject::invokeMethod(m_worker, [this] { m_worker->writePending(); });
        m_worker->waitForRoom();
    }
}

std::size_t StoreWriter::waiting() const
{
    return m_finished ? 0 : m_worker->waiting();
}

void StoreWriter::flush()
{
    if (m_finished)
        return;
    QMetaObject::invokeMethod(
        m_worker, [this] { m_worker->writePending(); }, Qt::BlockingQueuedConnection);
}
