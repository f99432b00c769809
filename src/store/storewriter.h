#pragma once

#include "store/answerstore.h"
#include "store/storelocation.h"

#include <QMutex>
#include <QObject>
#include <QThread>

#include <memory>
#include <vector>

class SqlAnswerStore;
class QTimer;

// Keeps answers in the store from a thread of its own, so neither the window nor a run waits
// for the disk: answers are taken at once and written in short transactions of up to
// BatchSize answers, or whatever came within BatchMs. Only answers coming faster than the disk
// takes them are held back, a batch at a time, rather than piling up in memory. A process killed
// outright loses at most the answers not yet written. Another process writing the same store makes
// a batch wait its turn (the busy timeout) and, failing that, try again with the next one; nothing
// is dropped for it. A store that cannot be written is said once (problem()) and the answers after
// it are dropped.
class StoreWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr int BatchSize = 300;
    static constexpr int BatchMs = 1000;
    // Answers taken but not yet being written, beyond which add() waits while the writer is
    // busy with the batch before (one batch written, one filling: a few MiB at most).
    static constexpr std::size_t MaxPending = BatchSize;

    // Opens the store on the writer's thread and waits for that to end.
    explicit StoreWriter(const StoreLocation &location, QObject *parent = nullptr);
    explicit StoreWriter(const QString &path, QObject *parent = nullptr)
        : StoreWriter(StoreLocation::file(path), parent)
    {
    }
    // finish(), unless that was done.
    ~StoreWriter() override;

    // The trouble opening the store gave, if any (said by the caller).
    StoreProblem openProblem() const { return m_openProblem; }
    // Whether answers are kept at all.
    bool writing() const { return m_writing; }

    // Takes an answer to keep; any thread. Waits only when the writer is a whole batch behind
    // (answers coming faster than the disk takes them).
    void add(PendingAnswer answer);
    // Answers taken and not yet handed to a write.
    std::size_t waiting() const;
    // Writes everything taken so far and waits for it; the answers that could not be written
    // stay queued when the store was busy.
    void flush();
    // Writes what is left (waiting for a busy store a few times over) and closes the store.
    // What went wrong meanwhile, not yet said through failed(): empty when nothing did.
    QString finish();

signals:
    // Once, when the store stops keeping answers (read-only, disk full, damaged, the database
    // gone).
    void failed(const QString &message);
    // After each transaction with queue items: how many it marked done and failed, and how
    // many were no longer this worker's (neither marked nor kept).
    void written(qint64 done, qint64 failed, qint64 lost);

private:
    class Worker;

    QThread m_thread;
    Worker *m_worker = nullptr;
    StoreProblem m_openProblem;
    bool m_writing = false;
    bool m_finished = false;
};
