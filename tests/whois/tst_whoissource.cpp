#include "manualclock.h"
#include "testregistry.h"
#include "testwhoisserver.h"
#include "whois/whoissource.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace Qt::StringLiterals;

namespace {

using Reply = TestWhoisServer::Reply;

const QByteArray RateLimited = "% Query rate limit exceeded, try again later\r\n";

// The port-43 source against servers on 127.0.0.1, its scheduler on a clock the test moves, so
// back-offs cost no waiting. IANA refers every name to whois.nic.test.
struct Harness
{
    QTemporaryDir cache;
    ManualClock *clock = new ManualClock;
    PoliteScheduler scheduler{std::unique_ptr<SchedulerClock>(clock)};
    std::map<QString, std::unique_ptr<TestWhoisServer>> servers;
    QStringList mapping;
    std::unique_ptr<WhoisSource> source;
    std::optional<WhoisServer> firstServer;

    void add(const QString &host, TestWhoisServer::Handler handler)
    {
        auto &server = servers[host];
        server = std::make_unique<TestWhoisServer>(std::move(handler));
        mapping << server->mapping(host);
    }
    // Called as each lookup ends, with how many had ended.
    std::function<void(int done)> onDone;

    QList<LookupResult> lookUp(const QStringList &addresses)
    {
        WhoisSourceOptions options;
        options.connectTo = ConnectToMap::parse(mapping.join(u','));
        options.cacheFolder = cache.path();
        options.limits.connectTimeoutMs = 2000;
        options.limits.answerTimeoutMs = 5000;
        options.firstServer = firstServer;
        source = std::make_unique<WhoisSource>(options, scheduler);
        QList<LookupResult> results(addresses.size());
        int done = 0;
        for (qsizetype i = 0; i < addresses.size(); ++i)
            source->lookup(quint64(i), addresses[i],
                           [this, &results, &done, i](const LookupResult &r) {
                               results[i] = r;
                               ++done;
                               if (onDone)
                                   onDone(done);
                           });
        if (!runUntil(*clock, [&] { return done == addresses.size(); }))
            qFatal("lookups never ended");
        return results;
    }
};

Reply ianaAnswer(const QByteArray &query)
{
    return {"domain:       " + query.toUpper() + "\nrefer:        whois.nic.test\n"};
}

Reply record(const QByteArray &query)
{
    return {"Domain Name: " + query + "\r\nRegistrar WHOIS Server: whois.registrar.test\r\n"};
}

} // namespace

class TestWhoisSource : public QObject
{
    Q_OBJECT

private slots:
    // How a row ends when the scheduler gives a hop up: throttled or down, naming the server,
    // for every name that waited on that hop; a registrar given up leaves the registry's record.
    void givenUpHops_data()
    {
        QTest::addColumn<QString>("refusing"); // the server that refuses, and how
        QTest::addColumn<QString>("how");      // "rate limit" or "closed"
        QTest::addColumn<int>("names");
        QTest::addColumn<QList<FailureReason>>("reasons");
        QTest::addColumn<QString>("lastError");
        const QList<FailureReason> twoThrottled{FailureReason::Throttled, FailureReason::Throttled};
        QTest::newRow("registry rate-limits") << u"whois.nic.test"_s << u"rate limit"_s << 1
                                              << QList<FailureReason>{FailureReason::Throttled}
                                              << u"throttled: throttled by whois.nic.test"_s;
        QTest::newRow("IANA rate-limits: both names waiting on it")
            << u"whois.iana.org"_s << u"rate limit"_s << 2 << twoThrottled
            << u"throttled: throttled by whois.iana.org"_s;
        QTest::newRow("registrar rate-limits: the registry's record stands")
            << u"whois.registrar.test"_s << u"rate limit"_s << 1
            << QList<FailureReason>{FailureReason::None} << QString();
        QTest::newRow("registry down")
            << u"whois.nic.test"_s << u"closed"_s << 4
            << QList<FailureReason>{FailureReason::NoAnswer, FailureReason::NoAnswer,
                                    FailureReason::NoAnswer, FailureReason::ServerDown}
            << u"server down: whois.nic.test is down: "_s;
    }
    void givenUpHops()
    {
        QFETCH(QString, refusing);
        QFETCH(QString, how);
        QFETCH(int, names);
        QFETCH(QList<FailureReason>, reasons);
        QFETCH(QString, lastError);
        Harness h;
        const bool limit = how == u"rate limit";
        auto refuse = [&](TestWhoisServer::Handler normal, const QString &host) {
            if (host == refusing && limit)
                return TestWhoisServer::Handler(
                    [](const QByteArray &) { return Reply{RateLimited}; });
            return normal;
        };
        h.add(u"whois.iana.org"_s, refuse(ianaAnswer, u"whois.iana.org"_s));
        h.add(u"whois.registrar.test"_s, refuse(record, u"whois.registrar.test"_s));
        if (refusing == u"whois.nic.test" && !limit) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            h.mapping << u"whois.nic.test:43:127.0.0.1:%1"_s.arg(probe.serverPort());
        } else {
            h.add(u"whois.nic.test"_s, refuse(record, u"whois.nic.test"_s));
        }
        QStringList addresses;
        for (int i = 0; i < names; ++i)
            addresses << u"name%1.test"_s.arg(i);
        const QList<LookupResult> results = h.lookUp(addresses);
        QList<FailureReason> seen;
        for (const LookupResult &r : results)
            seen << r.reason;
        QCOMPARE(seen, reasons);
        QVERIFY2(results.last().error.startsWith(lastError), qPrintable(results.last().error));
        if (reasons.last() == FailureReason::Throttled) {
            QCOMPARE(results.last().status, LookupStatus::Throttled);
            QCOMPARE(results.last().facts.status, RecordStatus::Throttled);
            QVERIFY(results.last().fields.isEmpty()); // the refusal is no record
        }
    }

    // Lookups waiting behind one server keep no chain, whether IANA named the server (its
    // answer cached by then) or the user did; every name still gets its record.
    void waitingLookupsHoldNoChain_data()
    {
        QTest::addColumn<bool>("firstServer");
        QTest::newRow("through IANA") << false;
        QTest::newRow("the user's server") << true;
    }
    void waitingLookupsHoldNoChain()
    {
        QFETCH(bool, firstServer);
        Harness h;
        h.add(u"whois.iana.org"_s, ianaAnswer);
        h.add(u"whois.nic.test"_s,
              [](const QByteArray &query) { return Reply{"Domain Name: " + query + "\r\n"}; });
        if (firstServer)
            h.firstServer = WhoisServer{u"whois.nic.test"_s};
        constexpr int Names = 40;
        QStringList addresses;
        for (int i = 0; i < Names; ++i)
            addresses << u"name%1.test"_s.arg(i);
        qsizetype heldAtFirst = -1;
        h.onDone = [&](int done) {
            if (done == 1)
                heldAtFirst = WhoisChain::heldLookups();
        };
        const QList<LookupResult> results = h.lookUp(addresses);
        // The one ending now and the one asked next at most; without parking, every name.
        QVERIFY2(heldAtFirst >= 1 && heldAtFirst <= 2, qPrintable(QString::number(heldAtFirst)));
        for (const LookupResult &r : results)
            QCOMPARE(r.facts.status, RecordStatus::Registered);
        QCOMPARE(WhoisChain::heldLookups(), 0);
    }
};

QUORVANE_REGISTER_TEST(TestWhoisSource)
#include "tst_whoissource.moc"
