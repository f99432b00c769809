#include "manualclock.h"
#include "rdap/rdapsource.h"
#include "testregistry.h"

#include <QTest>

#include <deque>

using namespace Qt::StringLiterals;

namespace {

// Answers from a script, one per request in order, each noted with the scheduler's time.
class ScriptedFetch : public RdapFetch
{
public:
    explicit ScriptedFetch(const ManualClock &clock) : m_clock(clock) {}

    void fetch(const QUrl &url, Done done, bool) override
    {
        requests << url.path();
        times << m_clock.nowMs();
        RdapFetchResult result = script.empty() ? RdapFetchResult{} : script.front();
        if (!script.empty())
            script.pop_front();
        QMetaObject::invokeMethod(
            &m_context, [done, result] { done(result); }, Qt::QueuedConnection);
    }

    std::deque<RdapFetchResult> script;
    QStringList requests;
    QList<qint64> times;

private:
    const ManualClock &m_clock;
    QObject m_context;
};

RdapFetchResult answer(int status, const QByteArray &retryAfter = {})
{
    RdapFetchResult r;
    r.status = status;
    r.ok = status >= 200 && status < 300;
    r.retryAfter = retryAfter;
    if (r.ok)
        r.body = R"({"objectClassName":"domain","ldhName":"example.test"})";
    return r;
}

RdapFetchResult unreachable()
{
    RdapFetchResult r;
    r.unreachable = true;
    r.failure = u"connection refused"_s;
    return r;
}

const QByteArray Services = "{\"version\":\"1.0\",\"publication\":\"2024-01-01T00:00:00Z\","
                            "\"services\":[[[\"test\"],[\"https://rdap.test/\"]]]}";

} // namespace

class TestRdapSource : public QObject
{
    Q_OBJECT

private slots:
    // 429 is waited out (Retry-After, else the doubled interval) and asked again; three in a
    // row end the row throttled. A server unreachable three times is down for what waits.
    void pacedByTheServer_data()
    {
        QTest::addColumn<QList<RdapFetchResult>>("script");
        QTest::addColumn<int>("names");
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<QList<FailureReason>>("reasons");
        QTest::addColumn<QString>("lastError");
        QTest::newRow("429 with Retry-After, then a record")
            << QList<RdapFetchResult>{answer(429, "7"), answer(200)} << 1 << QList<qint64>{0, 7000}
            << QList<FailureReason>{FailureReason::None} << QString();
        QTest::newRow("three 429s")
            << QList<RdapFetchResult>{answer(429), answer(429), answer(429)} << 1
            << QList<qint64>{0, 1000, 3000} << QList<FailureReason>{FailureReason::Throttled}
            << u"throttled: by rdap.test"_s;
        QTest::newRow("server down")
            << QList<RdapFetchResult>{unreachable(), unreachable(), unreachable()} << 4
            << QList<qint64>{0, 0, 0}
            << QList<FailureReason>{FailureReason::NoAnswer, FailureReason::NoAnswer,
                                    FailureReason::NoAnswer, FailureReason::ServerDown}
            << u"server down: rdap.test is down: connection refused"_s;
    }
    void pacedByTheServer()
    {
        QFETCH(QList<RdapFetchResult>, script);
        QFETCH(int, names);
        QFETCH(QList<qint64>, times);
        QFETCH(QList<FailureReason>, reasons);
        QFETCH(QString, lastError);
        auto *clock = new ManualClock;
        PoliteScheduler scheduler{std::unique_ptr<SchedulerClock>(clock)};
        ScriptedFetch fetch(*clock);
        fetch.script.assign(script.cbegin(), script.cend());
        RdapBootstrap bootstrap;
        QVERIFY(bootstrap.load(RdapRegistry::Dns, Services));
        RdapSource source([&]() -> const RdapBootstrap & { return bootstrap; }, &fetch, scheduler);
        QList<LookupResult> results(names);
        int done = 0;
        for (int i = 0; i < names; ++i)
            source.lookup(quint64(i), u"name%1.test"_s.arg(i), [&, i](const LookupResult &r) {
                results[i] = r;
                ++done;
            });
        QVERIFY(runUntil(*clock, [&] { return done == names; }));
        QCOMPARE(fetch.times, times);
        QList<FailureReason> seen;
        for (const LookupResult &r : std::as_const(results))
            seen << r.reason;
        QCOMPARE(seen, reasons);
        QCOMPARE(results.last().error, lastError);
    }
};

QUORVANE_REGISTER_TEST(TestRdapSource)
#include "tst_rdapsource.moc"
