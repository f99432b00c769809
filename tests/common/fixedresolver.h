#pragma once

#include "net/hostresolver.h"

#include <QMetaObject>
#include <QObject>
#include <QSet>

// Answers every name with the same addresses (none: "Host not found"), later than asked, as
// the system's resolver does.
class FixedResolver : public HostResolver
{
public:
    explicit FixedResolver(QList<IpAddress> addresses) : m_addresses(std::move(addresses)) {}

    quint64 lookUp(const QString &, QObject *context, Done done) override
    {
        const quint64 id = ++m_lastId;
        QMetaObject::invokeMethod(
            context,
            [this, id, done] {
                if (!m_aborted.contains(id))
                    done(m_addresses,
                         m_addresses.isEmpty() ? QStringLiteral("Host not found") : QString());
            },
            Qt::QueuedConnection);
        return id;
    }
    void abort(quint64 id) override { m_aborted.insert(id); }

private:
    QList<IpAddress> m_addresses;
    quint64 m_lastId = 0;
    QSet<quint64> m_aborted;
};
