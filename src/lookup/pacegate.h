#pragma once

#include <QString>

#include <functional>

// A server's pace shared with other processes (workers behind one public address): the
// scheduler asks for the server's turn before each request and gives it back when the request
// has ended, saying how long the server must then be left alone. Without a gate the scheduler
// paces each server by itself.
class PaceGate
{
public:
    virtual ~PaceGate() = default;

    // Asks for `server`'s turn. `answer` is called later, on the caller's thread and never from
    // inside acquire: with 0 when the turn is taken (the request may go now; release() must
    // follow), or with the milliseconds to wait before asking again.
    virtual void acquire(const QString &server, std::function<void(qint64 waitMs)> answer) = 0;
    // Gives back a turn taken: the next request to `server`, from any process of the group, not
    // before `waitMs` from now.
    virtual void release(const QString &server, qint64 waitMs) = 0;
};
