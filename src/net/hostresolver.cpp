#include "net/hostresolver.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QThreadPool>

#include <utility>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

namespace {

// How long an answer is used again, and for how many names: a run asks the same few servers
// thousands of times.
constexpr qint64 KeptMs = 60'000;
constexpr qsizetype MaxKept = 128;
// A slow name server holds a thread while the names of other servers are looked up.
constexpr int MaxThreads = 20;

struct Outcome
{
    QList<IpAddress> addresses;
    QString error;
    bool keep = false; // an answer the system gave, not a passing failure
};

Outcome resolve(const QString &host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    const QByteArray name = host.toUtf8();
    // A name that is not plain ASCII is looked up as its A-label form.
    const bool international = name.size() != host.size();
    hints.ai_flags = AI_ADDRCONFIG | (international ? AI_IDN : 0);
    addrinfo *list = nullptr;
    int result = ::getaddrinfo(name.constData(), nullptr, &hints, &list);
    if (result == EAI_BADFLAGS) {
        hints.ai_flags = international ? AI_IDN : 0;
        result = ::getaddrinfo(name.constData(), nullptr, &hints, &list);
    }
    Outcome outcome;
    if (result == EAI_NONAME || result == EAI_NODATA || result == EAI_FAIL) {
        outcome.error = QStringLiteral("Host not found");
        outcome.keep = true;
        return outcome;
    }
    if (result != 0) {
        outcome.error = QString::fromLocal8Bit(::gai_strerror(result));
        return outcome;
    }
    for (const addrinfo *entry = list; entry; entry = entry->ai_next) {
        const IpAddress address = IpAddress::fromSockaddr(entry->ai_addr);
        if (!address.isNull() && !outcome.addresses.contains(address))
            outcome.addresses.append(address);
    }
    ::freeaddrinfo(list);
    if (outcome.addresses.isEmpty())
        outcome.error = QStringLiteral("Host not found");
    outcome.keep = true;
    return outcome;
}

class SystemResolver final : public HostResolver
{
public:
    SystemResolver() { m_pool.setMaxThreadCount(MaxThreads); }

    quint64 lookUp(const QString &host, QObject *context, Done done) override
    {
        const QMutexLocker lock(&m_mutex);
        const quint64 id = ++m_lastId;
        m_callbacks.emplace(id, std::move(done));
        const auto kept = m_kept.constFind(host);
        if (kept != m_kept.cend() && !kept->until.hasExpired()) {
            post(id, context, kept->outcome);
            return id;
        }
        std::vector<Waiter> &waiting = m_waiting[host];
        waiting.push_back({id, context});
        if (waiting.size() == 1)
            m_pool.start([this, host] { finish(host, resolve(host)); });
        return id;
    }

    void abort(quint64 id) override
    {
        const QMutexLocker lock(&m_mutex);
        m_callbacks.remove(id);
        for (std::vector<Waiter> &waiting : m_waiting) {
            std::erase_if(waiting, [id](const Waiter &w) { return w.id == id; });
        }
    }

private:
    struct Waiter
    {
        quint64 id;
        QObject *context;
    };
    struct Kept
    {
        Outcome outcome;
        QDeadlineTimer until;
    };

    // On a worker thread.
    void finish(const QString &host, const Outcome &outcome)
    {
        const QMutexLocker lock(&m_mutex);
        if (outcome.keep) {
            if (m_kept.size() >= MaxKept) {
                m_kept.removeIf([](const auto &entry) { return entry.value().until.hasExpired(); });
                if (m_kept.size() >= MaxKept)
                    m_kept.erase(m_kept.begin());
            }
            m_kept.insert(host, {outcome, QDeadlineTimer(KeptMs)});
        }
        // Posted while the lock is held: an owner that aborts (as it does before it goes) either
        // is still waiting here or finds the answer queued to it, which goes with it.
        for (const Waiter &waiter : m_waiting.take(host))
            post(waiter.id, waiter.context, outcome);
    }

    void post(quint64 id, QObject *context, const Outcome &outcome)
    {
        QMetaObject::invokeMethod(
            context,
            [this, id, outcome] {
                Done done;
                {
                    const QMutexLocker lock(&m_mutex);
                    const auto found = m_callbacks.find(id);
                    if (found == m_callbacks.end())
                        return; // aborted after the answer was queued
                    done = std::move(found.value());
                    m_callbacks.erase(found);
                }
                done(outcome.addresses, outcome.error);
            },
            Qt::QueuedConnection);
    }

    QMutex m_mutex;
    quint64 m_lastId = 0;
    QHash<quint64, Done> m_callbacks;
    QHash<QString, std::vector<Waiter>> m_waiting;
    QHash<QString, Kept> m_kept;
    QThreadPool m_pool;
};

} // namespace

HostResolver &HostResolver::system()
{
    // Never destroyed: a look-up may still hold a worker thread when the program ends.
    static auto *resolver = new SystemResolver;
    return *resolver;
}
