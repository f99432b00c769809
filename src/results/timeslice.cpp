#include "results/timeslice.h"

#include <QCoreApplication>

TimeSlice::TimeSlice(std::function<void()> yield, int milliseconds)
    : m_yield(std::move(yield)), m_milliseconds(milliseconds)
{
}

void TimeSlice::yieldNow()
{
    ++m_yields;
    if (m_yield)
        m_yield();
    else
        QCoreApplication::processEvents();
    // The time the events took is not charged to the next slice.
    m_timer.start();
}
