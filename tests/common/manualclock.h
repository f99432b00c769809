#pragma once

#include "lookup/schedulerclock.h"

#include <QCoreApplication>
#include <QTest>

// A scheduler clock that moves only when the test says. A wake-up fires when the time is moved
// to or past it (or at once by settle() when it is already due), with the events it queues
// processed after it, as the event loop would.
class ManualClock : public SchedulerClock
{
public:
    qint64 nowMs() const override { return m_now; }
    void wakeAt(qint64 atMs) override { m_wakeAt = atMs; }
    void cancelWake() override { m_wakeAt = -1; }

    qint64 wakeAtMs() const { return m_wakeAt; }

    // Moves the time to `atMs`, firing every wake-up due on the way at its own time.
    void advanceTo(qint64 atMs)
    {
        settle();
        while (m_wakeAt >= 0 && m_wakeAt <= atMs) {
            m_now = qMax(m_now, m_wakeAt);
            fire();
        }
        m_now = qMax(m_now, atMs);
        settle();
    }
    void advance(qint64 ms) { advanceTo(m_now + ms); }

    // Runs what is due now: queued events and a wake-up that has come, until nothing is left.
    void settle()
    {
        for (int round = 0; round < 1000; ++round) {
            QCoreApplication::processEvents();
            if (m_wakeAt < 0 || m_wakeAt > m_now)
                return;
            fire();
        }
        qFatal("ManualClock: the wake-ups never settle");
    }

private:
    void fire()
    {
        m_wakeAt = -1;
        wake();
        QCoreApplication::processEvents();
    }

    qint64 m_now = 0;
    qint64 m_wakeAt = -1;
};

// Runs the event loop for real work (sockets, queued calls) and, whenever nothing happens for a
// moment, moves `clock` on to the wake-up it holds, until `done` holds. False when it never does.
template <class Predicate> bool runUntil(ManualClock &clock, Predicate done, int rounds = 500)
{
    for (int round = 0; round < rounds && !done(); ++round) {
        if (QTest::qWaitFor(done, 20))
            break;
        if (clock.wakeAtMs() >= 0)
            clock.advanceTo(clock.wakeAtMs());
    }
    return done();
}
