#pragma once

#include "net/ipaddress.h"

#include <QList>
#include <QString>

#include <functional>

class QObject;

// Looks host names up without blocking the caller's thread. The answer is delivered on the
// thread of `context`, always later than `lookUp` returns, and never after `abort` of its id or
// once `context` is gone (its owner aborts before it goes).
class HostResolver
{
public:
    // The addresses in the order the system gave them; empty with a reason when none came.
    using Done = std::function<void(const QList<IpAddress> &addresses, const QString &error)>;

    virtual ~HostResolver() = default;
    virtual quint64 lookUp(const QString &host, QObject *context, Done done) = 0;
    virtual void abort(quint64 id) = 0;

    // The system's resolver (getaddrinfo on worker threads), its answers kept for a minute.
    static HostResolver &system();
};
