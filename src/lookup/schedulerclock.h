#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

// The scheduler's sense of time: a steady clock in milliseconds and one wake-up it can set.
// The run uses SteadyClock; tests hand in a clock they move by hand, so the scheduler's rules
// (spacing, back-off, recovery, down servers) are checked without waiting.
class SchedulerClock
{
public:
    virtual ~SchedulerClock() = default;

    // Milliseconds since an arbitrary start; never goes back.
    virtual qint64 nowMs() const = 0;
    // Calls the wake-up function once, from the event loop, no earlier than `atMs` (at once when
    // that has passed). Replaces the wake-up set before.
    virtual void wakeAt(qint64 atMs) = 0;
    // Drops the wake-up set, if any.
    virtual void cancelWake() = 0;
    void setWake(std::function<void()> wake) { m_wake = std::move(wake); }

protected:
    void wake()
    {
        if (m_wake)
            m_wake();
    }

private:
    std::function<void()> m_wake;
};

// The real clock: QElapsedTimer for the time, a precise single-shot QTimer for the wake-up (a
// coarse timer may fire up to 5% early, which would break the spacing).
class SteadyClock : public SchedulerClock
{
public:
    SteadyClock();

    qint64 nowMs() const override { return m_clock.elapsed(); }
    void wakeAt(qint64 atMs) override;
    void cancelWake() override { m_timer.stop(); }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
};
