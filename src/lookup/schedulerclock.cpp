#include "lookup/schedulerclock.h"

#include <limits>

SteadyClock::SteadyClock()
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { wake(); });
}

void SteadyClock::wakeAt(qint64 atMs)
{
    const qint64 in = qBound<qint64>(0, atMs - nowMs(), qint64(std::numeric_limits<int>::max()));
    m_timer.start(int(in));
}
