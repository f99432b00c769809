#include "lookup/pacegate.h"
#include "lookup/politescheduler.h"
#include "testregistry.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// A gate that answers as scripted (after `answerAfterMs`), and records what it is asked.
class ScriptedGate : public PaceGate
{
public:
    QList<qint64> waits; // the answers in turn; 0 once they run out
    int answerAfterMs = 0;
    int asked = 0;
    QList<qint64> released; // the waits given back
    QString server;

    void acquire(const QString &name, std::function<void(qint64 waitMs)> answer) override
    {
        ++asked;
        server = name;
        const qint64 wait = waits.isEmpty() ? 0 : waits.takeFirst();
        QTimer::singleShot(answerAfterMs, [answer = std::move(answer), wait] { answer(wait); });
    }
    void release(const QString &name, qint64 waitMs) override
    {
        QCOMPARE(name, server);
        released << waitMs;
    }
};

} // namespace

class TestPaceGate : public QObject
{
    Q_OBJECT

    enum Ending
    {
        Settled,         // the request ends with the verdict
        StoppedInFlight, // the run stops while the request is under way
        StoppedAsking,   // the run stops while the gate has not answered yet
    };

private slots:
    void gate_data()
    {
        QTest::addColumn<QList<qint64>>("waits");
        QTest::addColumn<int>("answerAfterMs");
        QTest::addColumn<int>("verdict"); // Verdict::Kind
        QTest::addColumn<int>("ending");
        QTest::addColumn<int>("asked");
        QTest::addColumn<qint64>("startedAfterMs"); // -1: never started
        QTest::addColumn<QList<qint64>>("released");
        const int answer = int(Verdict::Kind::Answer);
        QTest::newRow("turn at once, given back with the delay")
            << QList<qint64>{} << 0 << answer << int(Settled) << 1 << qint64(0)
            << QList<qint64>{70};
        QTest::newRow("told to wait, asked again")
            << QList<qint64>{150, 40} << 0 << answer << int(Settled) << 3 << qint64(190)
            << QList<qint64>{70};
        // The doubled interval goes to the whole group, not the user's delay.
        QTest::newRow("throttled: the backoff given back")
            << QList<qint64>{} << 0 << int(Verdict::Kind::Throttled) << int(Settled) << 1
            << qint64(0) << QList<qint64>{1000};
        QTest::newRow("stopped in flight: the turn given back")
            << QList<qint64>{} << 0 << answer << int(StoppedInFlight) << 1 << qint64(0)
            << QList<qint64>{70};
        QTest::newRow("stopped while asking: the turn given back unused")
            << QList<qint64>{} << 60 << answer << int(StoppedAsking) << 1 << qint64(-1)
            << QList<qint64>{0};
    }
    void gate()
    {
        QFETCH(QList<qint64>, waits);
        QFETCH(int, answerAfterMs);
        QFETCH(int, verdict);
        QFETCH(int, ending);
        QFETCH(int, asked);
        QFETCH(qint64, startedAfterMs);
        QFETCH(QList<qint64>, released);
        ScriptedGate gate;
        gate.waits = waits;
        gate.answerAfterMs = answerAfterMs;
        PoliteScheduler scheduler;
        scheduler.setDelay([](quint64) { return qint64(70); });
        scheduler.setPaceGate(&gate);
        QElapsedTimer clock;
        clock.start();
        qint64 startedAt = -1;
        bool settled = false;
        scheduler.submit(
            u"whois.nic.tst"_s, 1,
            [&](const PoliteScheduler::Settle &settle) {
                if (startedAt >= 0)
                    return; // asked again after a throttle: left in flight
                startedAt = clock.elapsed();
                if (ending == Settled)
                    QTimer::singleShot(10, [&, settle] {
                        Verdict outcome;
                        outcome.kind = Verdict::Kind(verdict);
                        settle(outcome);
                        settled = true;
                    });
            },
            [](PoliteScheduler::GiveUp, const QString &) {});
        if (ending == StoppedAsking) {
            QTest::qWait(answerAfterMs / 2);
            QCOMPARE(gate.asked, 1);
            scheduler.stop();
        } else {
            QTRY_VERIFY(startedAt >= 0);
            if (ending == StoppedInFlight)
                scheduler.stop();
            else
                QTRY_VERIFY(settled);
        }
        QTRY_COMPARE(gate.released.size(), released.size());
        QTest::qWait(answerAfterMs + 20); // nothing more comes
        QCOMPARE(gate.released, released);
        QCOMPARE(gate.asked, asked);
        if (startedAfterMs < 0)
            QCOMPARE(startedAt, qint64(-1));
        else
            QVERIFY2(startedAt >= startedAfterMs, qPrintable(QString::number(startedAt)));
        QCOMPARE(scheduler.busyCount(), 0);
    }
};

QUORVANE_REGISTER_TEST(TestPaceGate)

#include "tst_pacegate.moc"
