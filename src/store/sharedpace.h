#pragma once

#include "lookup/pacegate.h"
#include "store/storelocation.h"

#include <QHash>
#include <QObject>
#include <QThread>

// The pace of each server shared by the workers of one pace group (machines behind one public
// address) through the store's database: a row per group and server holds when the next request
// may go and which request holds the turn. A turn is taken in one short statement when it is
// due, and given back when the request ends with the wait that must follow it, so the group
// together never asks a server faster than one worker would. A worker that dies holding a turn
// blocks that server for the group for at most HoldMs. The statements run on a thread of their
// own, so a request never waits behind the run's other work.
class SharedPace : public QObject, public PaceGate
{
    Q_OBJECT

public:
    // How long a turn may be held before the group takes it back: longer than any request may
    // take (its deadline) so a slow request is never overlapped.
    static constexpr qint64 HoldMs = 90000;
    // While another process holds a server's turn, how often it is asked for again.
    static constexpr qint64 HeldPollMs = 100;

    // Connects on the pace thread and waits for that; check problem().
    SharedPace(const StoreLocation &location, const QString &group, QObject *parent = nullptr);
    ~SharedPace() override;

    // Why the pace cannot be shared (said once): empty while it works.
    QString problem() const { return m_problem; }

    void acquire(const QString &server, std::function<void(qint64 waitMs)> answer) override;
    void release(const QString &server, qint64 waitMs) override;

signals:
    // Once, when the database stops answering; the gate then holds every server back.
    void failed(const QString &message);

private:
    class Link;

    void fail(const QString &message);

    QThread m_thread;
    Link *m_link = nullptr;
    QString m_group;
    QString m_token; // this process's part of a turn's holder
    quint64 m_next = 0;
    QHash<QString, QString> m_held; // server -> the holder of the turn this process has
    QString m_problem;
};
