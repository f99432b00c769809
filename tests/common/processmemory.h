#pragma once

#include <QFile>

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
