#include "lookup/politescheduler.h"
#include "manualclock.h"
#include "platform/logging.h"
#include "testregistry.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The scheduler on a clock the test moves: every start is recorded with its time and held
// until the test settles it; every give-up is recorded too.
struct Harness
{
    struct Call
    {
        quint64 tag = 0;
        QString server;
        qint64 at = 0;
        PoliteScheduler::Settle settle;
    };
    struct GivenUp
    {
        quint64 tag = 0;
        PoliteScheduler::GiveUp why;
        QString reason;
        qint64 at = 0;
    };

    ManualClock *clock = new ManualClock;
    PoliteScheduler scheduler{std::unique_ptr<SchedulerClock>(clock)};
    qint64 delayMs = 0;
    QList<Call> calls;
    QList<GivenUp> givenUp;

    Harness()
    {
        scheduler.setDelay([this](quint64) { return delayMs; });
    }

    void submit(const QString &server, quint64 tag)
    {
        scheduler.submit(
            server, tag,
            [this, server, tag](const PoliteScheduler::Settle &settle) {
                calls.append(Call{tag, server, clock->nowMs(), settle});
            },
            [this, tag](PoliteScheduler::GiveUp why, const QString &reason) {
                givenUp.append(GivenUp{tag, why, reason, clock->nowMs()});
            });
        clock->settle();
    }
    // Ends call `i` with `verdict` at the current time; true when the caller goes on.
    bool settle(qsizetype i, const Verdict &verdict)
    {
        const bool proceed = calls.at(i).settle(verdict);
        clock->settle();
        return proceed;
    }
    QList<quint64> tags() const
    {
        QList<quint64> out;
        for (const Call &call : calls)
            out << call.tag;
        return out;
    }
};

// The messages of the quorvane categories while it lives.
struct LogCapture
{
    static inline QStringList lines;
    QtMessageHandler previous;

    LogCapture()
    {
        lines.clear();
        previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &context, const QString &message) {
                if (QByteArray(context.category).startsWith("quorvane."))
                    lines << QLatin1String(context.category) + QLatin1String(": ") + message;
            });
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules({});
    }
};

Verdict verdict(Verdict::Kind kind, int retryAfterSeconds = -1)
{
    Verdict v;
    v.kind = kind;
    v.retryAfterSeconds = retryAfterSeconds;
    v.reason = u"connection refused"_s;
    return v;
}

// "T" throttled, "T5" throttled with Retry-After 5, "A" an answer, "F" a failed answer, "E" a
// close without a byte, "N" a turn not used, "U" unreachable.
Verdict verdictNamed(const QString &name)
{
    switch (name.at(0).unicode()) {
    case 'T':
        return verdict(Verdict::Kind::Throttled, name.size() > 1 ? name.mid(1).toInt() : -1);
    case 'A':
        return verdict(Verdict::Kind::Answer);
    case 'F':
        return verdict(Verdict::Kind::Failed);
    case 'E':
        return verdict(Verdict::Kind::EmptyClose);
    case 'N':
        return verdict(Verdict::Kind::NotSent);
    default:
        return verdict(Verdict::Kind::Unreachable);
    }
}

} // namespace

class TestPoliteScheduler : public QObject
{
    Q_OBJECT

private slots:
    // One server with plenty queued: each verdict ends the request in flight 10 ms after it
    // started; after it, the server's interval, and the gap until its next request starts.
    void pace_data()
    {
        QTest::addColumn<qint64>("delayMs");
        QTest::addColumn<QStringList>("verdicts");
        QTest::addColumn<QList<qint64>>("intervals");
        QTest::addColumn<QList<qint64>>("gaps");
        const QList<qint64> doubling{1000, 2000, 4000, 8000, 16000, 32000, 64000, 120000, 120000};
        QTest::newRow("answers keep the user's delay")
            << qint64(2000) << QStringList{u"A"_s, u"A"_s} << QList<qint64>{2000, 2000}
            << QList<qint64>{2000, 2000};
        QTest::newRow("throttling doubles the interval up to the cap")
            << qint64(0) << QStringList(9, u"T"_s) << doubling << doubling;
        QTest::newRow("doubling starts from the user's delay")
            << qint64(3000) << QStringList{u"T"_s, u"T"_s} << QList<qint64>{6000, 12000}
            << QList<qint64>{6000, 12000};
        QTest::newRow("Retry-After longer than the back-off is waited out")
            << qint64(0) << QStringList{u"T5"_s, u"A"_s} << QList<qint64>{1000, 1000}
            << QList<qint64>{5000, 1000};
        QTest::newRow("five good answers in a row end the back-off")
            << qint64(0) << QStringList{u"T"_s, u"A"_s, u"A"_s, u"A"_s, u"A"_s, u"A"_s}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 0}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 0};
        QTest::newRow("a failed answer neither counts nor breaks the run")
            << qint64(0) << QStringList{u"T"_s, u"A"_s, u"A"_s, u"F"_s, u"A"_s, u"A"_s, u"A"_s}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 1000, 0}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 1000, 0};
        QTest::newRow("an unreachable server breaks the run")
            << qint64(0) << QStringList{u"T"_s, u"A"_s, u"A"_s, u"A"_s, u"A"_s, u"U"_s, u"A"_s}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 1000, 1000}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 1000, 1000};
        QTest::newRow("a turn not used: the next request at once")
            << qint64(2000) << QStringList{u"A"_s, u"N"_s, u"A"_s}
            << QList<qint64>{2000, 2000, 2000} << QList<qint64>{2000, 0, 2000};
        QTest::newRow("a turn not used is no good answer")
            << qint64(0) << QStringList{u"T"_s, u"A"_s, u"A"_s, u"A"_s, u"A"_s, u"N"_s, u"A"_s}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 1000, 0}
            << QList<qint64>{1000, 1000, 1000, 1000, 1000, 0, 0};
        QTest::newRow("two empty closes are chance, the third throttles")
            << qint64(0) << QStringList{u"E"_s, u"E"_s, u"E"_s} << QList<qint64>{0, 0, 1000}
            << QList<qint64>{0, 0, 1000};
        QTest::newRow("an answer between empty closes starts the count again")
            << qint64(0) << QStringList{u"E"_s, u"E"_s, u"A"_s, u"E"_s, u"E"_s}
            << QList<qint64>{0, 0, 0, 0, 0} << QList<qint64>{0, 0, 0, 0, 0};
    }
    void pace()
    {
        QFETCH(qint64, delayMs);
        QFETCH(QStringList, verdicts);
        QFETCH(QList<qint64>, intervals);
        QFETCH(QList<qint64>, gaps);
        Harness h;
        h.delayMs = delayMs;
        for (int tag = 0; tag < 30; ++tag)
            h.submit(u"whois.nic.test"_s, quint64(tag));
        QList<qint64> seenIntervals, seenGaps;
        for (const QString &name : std::as_const(verdicts)) {
            QCOMPARE(h.scheduler.busyCount(), 1);
            const qsizetype before = h.calls.size();
            h.clock->advance(10);
            h.settle(before - 1, verdictNamed(name));
            const qint64 settledAt = h.clock->nowMs();
            seenIntervals << h.scheduler.intervalMs(u"whois.nic.test"_s);
            // Only the wake-up the scheduler set moves the time on: nothing starts early.
            while (h.calls.size() == before && h.clock->wakeAtMs() >= 0)
                h.clock->advanceTo(h.clock->wakeAtMs());
            QCOMPARE(h.calls.size(), before + 1);
            seenGaps << h.calls.last().at - settledAt;
        }
        QCOMPARE(seenIntervals, intervals);
        QCOMPARE(seenGaps, gaps);
    }

    // A throttled request is asked again before the ones queued behind it, and after its third
    // refusal it is given up as throttled by its server.
    void throttledRequestKeepsItsPlace()
    {
        Harness h;
        h.submit(u"rdap.test"_s, 1);
        h.submit(u"rdap.test"_s, 2);
        QCOMPARE(h.tags(), QList<quint64>{1});
        for (int refusal = 0; refusal < 3; ++refusal) {
            QVERIFY(!h.settle(h.calls.size() - 1, verdict(Verdict::Kind::Throttled)));
            h.clock->advance(PoliteScheduler::MaxIntervalMs);
        }
        QCOMPARE(h.tags(), (QList<quint64>{1, 1, 1, 2}));
        QCOMPARE(h.givenUp.size(), 1);
        QCOMPARE(h.givenUp[0].tag, quint64(1));
        QCOMPARE(h.givenUp[0].why, PoliteScheduler::GiveUp::Throttled);
        QCOMPARE(h.givenUp[0].reason, u"throttled by rdap.test"_s);
    }

    // With every slot busy, the server that has waited longest goes first when one frees up,
    // whatever the names.
    void longestWaitingServerFirst()
    {
        Harness h;
        h.delayMs = 1000;
        h.scheduler.setMaxBusy(1);
        h.submit(u"b.test"_s, 1);
        h.clock->advance(10);
        h.settle(0, verdict(Verdict::Kind::Answer)); // b.test may go again at 1010
        h.submit(u"a.test"_s, 2);
        h.clock->advance(10);
        h.settle(1, verdict(Verdict::Kind::Answer)); // a.test at 1020
        h.submit(u"c.test"_s, 3);                    // holds the one slot
        h.submit(u"a.test"_s, 4);
        h.submit(u"b.test"_s, 5);
        h.clock->advance(5000);
        QCOMPARE(h.tags(), (QList<quint64>{1, 2, 3}));
        h.settle(2, verdict(Verdict::Kind::Answer));
        QCOMPARE(h.tags(), (QList<quint64>{1, 2, 3, 5}));
        h.clock->advance(10);
        h.settle(3, verdict(Verdict::Kind::Answer));
        QCOMPARE(h.tags(), (QList<quint64>{1, 2, 3, 5, 4}));
    }

    // Three unreachable answers in a row put a server down: what waits for it and what comes
    // for it later is given up at once, and other servers go on.
    void downServer_data()
    {
        QTest::addColumn<QStringList>("verdicts");
        QTest::addColumn<bool>("down");
        QTest::newRow("three in a row") << QStringList{u"U"_s, u"U"_s, u"U"_s} << true;
        QTest::newRow("two") << QStringList{u"U"_s, u"U"_s} << false;
        QTest::newRow("an answer in between")
            << QStringList{u"U"_s, u"U"_s, u"A"_s, u"U"_s, u"U"_s} << false;
        QTest::newRow("a failed answer in between")
            << QStringList{u"U"_s, u"F"_s, u"U"_s, u"U"_s} << false;
        QTest::newRow("an empty close in between")
            << QStringList{u"U"_s, u"U"_s, u"E"_s, u"U"_s} << false;
    }
    void downServer()
    {
        QFETCH(QStringList, verdicts);
        QFETCH(bool, down);
        Harness h;
        h.submit(u"alive.test"_s, 100);
        for (int tag = 0; tag < 8; ++tag)
            h.submit(u"dead.test"_s, quint64(tag));
        for (const QString &name : std::as_const(verdicts)) {
            const qsizetype i = h.calls.size() - 1;
            QCOMPARE(h.calls.at(i).server, u"dead.test"_s);
            // The caller reports its own failure; an empty close is asked again instead.
            QCOMPARE(h.settle(i, verdictNamed(name)), name != u"E");
            h.clock->advance(1);
        }
        QCOMPARE(h.scheduler.isDown(u"dead.test"_s), down);
        const qsizetype sent = h.calls.size();
        h.submit(u"dead.test"_s, 200);
        h.clock->advance(1);
        QList<quint64> givenUp;
        for (const Harness::GivenUp &g : std::as_const(h.givenUp)) {
            givenUp << g.tag;
            QCOMPARE(g.why, PoliteScheduler::GiveUp::ServerDown);
            QCOMPARE(g.reason, u"dead.test is down: connection refused"_s);
        }
        QCOMPARE(h.calls.size(), sent); // nothing sent for the new request yet, or ever
        if (down) {
            QCOMPARE(givenUp, (QList<quint64>{3, 4, 5, 6, 7, 200}));
            QCOMPARE(h.scheduler.queuedCount(), 0);
        } else {
            QVERIFY(givenUp.isEmpty());
            QCOMPARE(h.calls.last().server, u"dead.test"_s); // still asked
        }
        QVERIFY(h.tags().contains(100));
    }

    // A request to an idle server starts at once, while another server waits out its delay.
    void idleServerDoesNotWait()
    {
        Harness h;
        h.delayMs = 1000;
        h.submit(u"a.test"_s, 1);
        h.clock->advance(10);
        h.settle(0, verdict(Verdict::Kind::Answer)); // a.test may go again at 1010
        h.submit(u"a.test"_s, 2);
        h.clock->advance(10);
        h.submit(u"b.test"_s, 3);
        h.clock->advance(PoliteScheduler::MaxIntervalMs);
        QCOMPARE(h.tags(), (QList<quint64>{1, 3, 2}));
        QCOMPARE(h.calls[1].at, qint64(20));
        QCOMPARE(h.calls[2].at, qint64(1010));
    }

    // At most maxBusy servers at once, one request each; a freed slot goes to the next.
    void busyLimit()
    {
        Harness h;
        h.scheduler.setMaxBusy(2);
        h.submit(u"a.test"_s, 0);
        h.submit(u"a.test"_s, 1);
        h.submit(u"b.test"_s, 2);
        h.submit(u"c.test"_s, 3);
        QCOMPARE(h.tags(), (QList<quint64>{0, 2}));
        QCOMPARE(h.scheduler.busyCount(), 2);
        h.settle(1, verdict(Verdict::Kind::Answer));
        QCOMPARE(h.tags(), (QList<quint64>{0, 2, 3}));
        h.settle(0, verdict(Verdict::Kind::Answer));
        QCOMPARE(h.tags(), (QList<quint64>{0, 2, 3, 1}));
    }

    // The run's log is off unless turned on; on, it says what the scheduler decided.
    void logOnlyWhenAskedFor_data()
    {
        QTest::addColumn<bool>("verbose");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("off by default") << false << QStringList();
        QTest::newRow("verbose")
            << true
            << QStringList{u"quorvane.run: a.test request 1 sent, attempt 1"_s,
                           u"quorvane.run: a.test throttled request 1 (attempt 1): interval 1000 "
                           "ms, next request in 1000 ms"_s,
                           u"quorvane.run: a.test request 1 sent, attempt 2"_s};
    }
    void logOnlyWhenAskedFor()
    {
        QFETCH(bool, verbose);
        QFETCH(QStringList, lines);
        LogCapture capture;
        if (verbose)
            Logging::enableVerbose();
        Harness h;
        h.submit(u"a.test"_s, 1);
        h.settle(0, verdict(Verdict::Kind::Throttled));
        h.clock->advance(1000);
        QCOMPARE(LogCapture::lines, lines);
    }

    // A stop forgets everything: a settle after it does nothing, nothing else starts.
    void stopForgetsEverything()
    {
        Harness h;
        h.submit(u"a.test"_s, 1);
        h.submit(u"a.test"_s, 2);
        h.scheduler.stop();
        QVERIFY(!h.settle(0, verdict(Verdict::Kind::Answer)));
        h.clock->advance(PoliteScheduler::MaxIntervalMs);
        QCOMPARE(h.tags(), QList<quint64>{1});
        QVERIFY(h.givenUp.isEmpty());
        QCOMPARE(h.scheduler.busyCount(), 0);

        // Give-ups decided before the stop but not yet delivered are dropped too.
        Harness d;
        for (quint64 tag = 0; tag < 4; ++tag)
            d.submit(u"dead.test"_s, tag);
        d.settle(0, verdict(Verdict::Kind::Unreachable));
        d.settle(1, verdict(Verdict::Kind::Unreachable));
        d.calls.at(2).settle(verdict(Verdict::Kind::Unreachable)); // tag 3 given up, later
        QVERIFY(d.scheduler.isDown(u"dead.test"_s));
        d.scheduler.stop();
        d.clock->advance(1);
        QVERIFY(d.givenUp.isEmpty());
    }
};

QUORVANE_REGISTER_TEST(TestPoliteScheduler)
#include "tst_politescheduler.moc"
