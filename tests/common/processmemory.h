#pragma once

#include <QFile>

#include <malloc.h>

// A figure from /proc/self/status in MiB: "VmRSS:" (resident now) or "VmHWM:" (peak).
inline double processMemoryMiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// Gives freed heap memory back and starts the peak ("VmHWM:") again from what is resident now,
// so the peak of what follows can be told apart from that of earlier work.
inline void resetPeakMemory()
{
    malloc_trim(0);
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}
