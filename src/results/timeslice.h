#pragma once

#include <QElapsedTimer>

#include <functional>

// Lets pending window events run during a long loop, once per slice of time rather than once
// per step: calling it costs a clock read, and only when the slice has run out does the yield
// itself run. The first call yields at once, so events already waiting run as the loop
// starts, as they would with a yield per step.
class TimeSlice
{
public:
    static constexpr int DefaultMilliseconds = 20;

    // Without a yield of its own, QCoreApplication::processEvents runs.
    explicit TimeSlice(std::function<void()> yield = {}, int milliseconds = DefaultMilliseconds);

    void operator()()
    {
        if (!m_timer.isValid() || m_timer.elapsed() >= m_milliseconds)
            yieldNow();
    }
    void yieldNow();
    int yields() const { return m_yields; }

private:
    std::function<void()> m_yield;
    QElapsedTimer m_timer;
    int m_milliseconds;
    int m_yields = 0;
};
