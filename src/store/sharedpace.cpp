#include "store/sharedpace.h"

#include "store/sqlanswerstore.h"
#include "store/storesql.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <memory>

// The database side, on the pace thread.
class SharedPace::Link : public QObject
{
public:
    Link(StoreLocation location, QString group)
        : m_location(std::move(location)), m_group(std::move(group))
    {
    }

    QString open()
    {
        m_session = SqlAnswerStore::open(m_location, SqlAnswerStore::Access::ReadWrite);
        return m_session->problem().message;
    }
    void close() { m_session.reset(); }

    // 0 when the turn is `holder`'s now, else how long to wait; nothing when the database
    // failed.
    std::optional<qint64> take(const QString &server, const QString &holder)
    {
        if (!m_session || m_session->problem())
            return std::nullopt;
        StoreStatement &turn = m_session->prepared(StoreSql::AcquireTurn);
        turn.bindValue(0, m_group);
        turn.bindValue(1, server);
        turn.bindValue(2, HoldMs);
        turn.bindValue(3, holder);
        if (!m_session->exec(turn) || !turn.next())
            return std::nullopt;
        const QVariant current = turn.value(0);
        const qint64 nextAt = turn.value(1).toLongLong();
        const qint64 now = turn.value(2).toLongLong();
        turn.finish();
        if (current.toString() == holder)
            return 0;
        const qint64 wait = nextAt - now;
        // A turn held is given back as soon as its request ends, usually long before HoldMs.
        return qMax<qint64>(1, current.isNull() ? wait : qMin(wait, HeldPollMs));
    }

    bool give(const QString &server, const QString &holder, qint64 waitMs)
    {
        if (!m_session || m_session->problem())
            return false;
        StoreStatement &turn = m_session->prepared(StoreSql::ReleaseTurn);
        turn.bindValue(0, qMax<qint64>(0, waitMs));
        turn.bindValue(1, m_group);
        turn.bindValue(2, server);
        turn.bindValue(3, holder);
        const bool done = m_session->exec(turn);
        turn.finish();
        return done;
    }

    QString problem() const { return m_session ? m_session->problem().message : QString(); }

private:
    StoreLocation m_location;
    QString m_group;
    std::unique_ptr<SqlAnswerStore> m_session;
};

SharedPace::SharedPace(const StoreLocation &location, const QString &group, QObject *parent)
    : QObject(parent), m_group(group),
      m_token(QStringLiteral("%1-%2")
                  .arg(QCoreApplication::applicationPid())
                  .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')))
{
    m_thread.setObjectName(QStringLiteral("shared pace"));
    m_thread.start();
    m_link = new Link(location, group);
    m_link->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_link, [this] { m_problem = m_link->open(); }, Qt::BlockingQueuedConnection);
}

SharedPace::~SharedPace()
{
    // The turns given back before this are written first (the thread takes its calls in order).
    QMetaObject::invokeMethod(
        m_link, [this] { m_link->close(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    // Deleted here, the thread gone: a deleteLater posted as its loop quit could be dropped.
    delete m_link;
}

void SharedPace::fail(const QString &message)
{
    if (!m_problem.isEmpty())
        return;
    m_problem = message.isEmpty() ? QStringLiteral("the shared pace stopped answering") : message;
    emit failed(m_problem);
}

void SharedPace::acquire(const QString &server, std::function<void(qint64 waitMs)> answer)
{
    const QString holder = m_token + QLatin1Char('-') + QString::number(++m_next);
    QMetaObject::invokeMethod(m_link, [this, server, holder, answer = std::move(answer)] {
        const std::optional<qint64> wait = m_link->take(server, holder);
        const QString problem = wait ? QString() : m_link->problem();
        QMetaObject::invokeMethod(this, [this, server, holder, wait, problem, answer] {
            if (!wait) {
                // Without the group's word nothing is sent: the server is asked again later,
                // while the worker says why and stops.
                fail(problem);
                answer(1000);
                return;
            }
            if (*wait == 0)
                m_held.insert(server, holder);
            answer(*wait);
        });
    });
}

void SharedPace::release(const QString &server, qint64 waitMs)
{
    const QString holder = m_held.take(server);
    if (holder.isEmpty())
        return;
    QMetaObject::invokeMethod(m_link, [this, server, holder, waitMs] {
        if (m_link->give(server, holder, waitMs))
            return;
        const QString problem = m_link->problem();
        QMetaObject::invokeMethod(this, [this, problem] { fail(problem); });
    });
}
