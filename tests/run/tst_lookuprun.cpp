#include "lookup/delay.h"
#include "net/connectto.h"
#include "processmemory.h"
#include "results/resultstable.h"
#include "run/lookuprun.h"
#include "run/runfeed.h"
#include "testhttpserver.h"
#include "testregistry.h"
#include "web/sitefetcher.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray pageFor(const QByteArray &target)
{
    const QByteArray address = target.mid(target.lastIndexOf('/') + 1);
    return "<html><body><div id=\"whoisRecordContainer\">Domain Name: " + address +
           "<br>Registrar: Example Registrar<br>Name Server: ns1." + address +
           "<br>Name Server: ns2." + address + "</div></body></html>";
}

QStringList rows(const ResultsTable &t)
{
    QStringList out;
    for (int i = 1; i <= t.itemCount(); ++i)
        out << t.itemText(i);
    return out;
}

} // namespace

class DelayTests : public QObject
{
    Q_OBJECT

private slots:
    void delayText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("numeric");
        QTest::addColumn<int>("seconds"); // -99999: the conversion fails
        const QString c = QStringLiteral("C");
        const QString de = QStringLiteral("de_DE");
        QTest::newRow("7") << c << QStringLiteral("7") << true << 7;
        QTest::newRow("spaces around") << c << QStringLiteral(" 7 ") << true << 7;
        QTest::newRow("2.5 to even") << c << QStringLiteral("2.5") << true << 2;
        QTest::newRow("3.5 to even") << c << QStringLiteral("3.5") << true << 4;
        QTest::newRow("-2.5") << c << QStringLiteral("-2.5") << true << -2;
        QTest::newRow("sign and exponent") << c << QStringLiteral("+1.5e1") << true << 15;
        QTest::newRow("group separator") << c << QStringLiteral("1,000") << true << 1000;
        QTest::newRow("leading point") << c << QStringLiteral(".6") << true << 1;
        QTest::newRow("-3") << c << QStringLiteral("-3") << true << -3;
        QTest::newRow("empty") << c << QString() << false << -99999;
        QTest::newRow("spaces only") << c << QStringLiteral("   ") << false << -99999;
        QTest::newRow("abc") << c << QStringLiteral("abc") << false << -99999;
        QTest::newRow("7s") << c << QStringLiteral("7s") << false << -99999;
        QTest::newRow("bare exponent") << c << QStringLiteral("1e") << false << -99999;
        QTest::newRow("sign only") << c << QStringLiteral("-") << false << -99999;
        QTest::newRow("40000 is a number but no pause")
            << c << QStringLiteral("40000") << true << -99999;
        QTest::newRow("32767") << c << QStringLiteral("32767") << true << 32767;
        QTest::newRow("-32768") << c << QStringLiteral("-32768") << true << -32768;
        QTest::newRow("huge exponent") << c << QStringLiteral("1e400") << true << -99999;
        QTest::newRow("German decimal comma") << de << QStringLiteral("2,5") << true << 2;
        QTest::newRow("German group point") << de << QStringLiteral("1.000") << true << 1000;
    }
    void delayText()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, numeric);
        QFETCH(int, seconds);
        const QLocale l(locale);
        QCOMPARE(IsDelayNumeric(text, l), numeric);
        QCOMPARE(DelaySeconds(text, l).value_or(-99999), seconds);
    }
};

// A feed whose addresses arrive when the test says, as a pipe's lines do.
class DripFeed : public AddressFeed
{
public:
    QStringList waiting;
    bool ended = false;

    QStringList take(qsizetype max) override
    {
        QStringList out = waiting.mid(0, max);
        waiting.remove(0, out.size());
        return out;
    }
    bool atEnd() const override { return ended && waiting.isEmpty(); }
    void add(const QStringList &addresses, bool end)
    {
        waiting += addresses;
        ended = end;
        ready();
    }
};

// Sources the test drives: each lookup goes through the run's scheduler to the server named
// after the address's '@' and waits there until the test settles it.
class ScriptedSources : public RunSources
{
public:
    struct Pending
    {
        PoliteScheduler::Settle settle;
        Source::Done done;
        QString address;
    };

    class ScriptedSource : public Source
    {
    public:
        ScriptedSource(ScriptedSources &owner, PoliteScheduler &scheduler)
            : Source(scheduler, nullptr), m_owner(owner)
        {
        }
        void lookup(quint64 tag, const QString &address, Done done) override
        {
            ++m_owner.lookups;
            m_scheduler.submit(
                address.section(u'@', 1), tag,
                [this, address, done](const PoliteScheduler::Settle &settle) {
                    m_owner.pending.insert(address, Pending{settle, done, address});
                },
                [](PoliteScheduler::GiveUp, const QString &) {});
        }
        void abortAll() override { m_owner.pending.clear(); }

    private:
        ScriptedSources &m_owner;
    };

    explicit ScriptedSources(PoliteScheduler &scheduler) : m_source(*this, scheduler) {}
    Source *source(SourceKind kind) override
    {
        return kind == SourceKind::Whois ? &m_source : nullptr;
    }
    void abortAll() override { m_source.abortAll(); }

    // Ends the lookup of `address` with a whole answer.
    void answer(const QString &address)
    {
        const Pending p = pending.take(address);
        if (!p.settle)
            qFatal("no lookup of %s in flight", qPrintable(address));
        LookupResult result;
        result.address = address;
        result.source = SourceKind::Whois;
        if (p.settle(Verdict{}))
            p.done(result);
    }

    QHash<QString, Pending> pending;
    qsizetype lookups = 0;

private:
    ScriptedSource m_source;
};

// A run over ScriptedSources.
struct ScriptedRun
{
    ScriptedSources *sources = nullptr;
    QString delay = QStringLiteral("0");
    std::unique_ptr<LookupRun> run;

    explicit ScriptedRun(std::unique_ptr<AddressFeed> feed, int parallel = 8)
    {
        RunOptions options;
        options.parallel = parallel;
        options.source = [] { return std::optional(SourceKind::Whois); };
        options.delayText = [this] { return delay; };
        options.sourceFactory = [this](PoliteScheduler &scheduler, const RunSources::Notice &) {
            auto made = std::make_unique<ScriptedSources>(scheduler);
            sources = made.get();
            return made;
        };
        run = std::make_unique<LookupRun>(std::move(feed), std::move(options));
    }
};

class LookupRunTests : public QObject
{
    Q_OBJECT

    struct Harness
    {
        TestHttpServer server;
        ResultsTable table;
        QString delay = QStringLiteral("0");
        std::optional<Site> site = Site::Option2;
        std::unique_ptr<LookupRun> run;

        explicit Harness(std::function<TestHttpServer::Response(const QByteArray &)> handler)
            : server(std::move(handler))
        {
            qputenv("QUORVANE_SITE1_URL", (server.baseUrl() + QStringLiteral("/whois/")).toUtf8());
            qputenv("QUORVANE_SITE2_URL", (server.baseUrl() + QStringLiteral("/")).toUtf8());
            qputenv("QUORVANE_SITE3_URL",
                    (server.baseUrl() + QStringLiteral("/ui?queryinput=")).toUtf8());
            table.ResetResultsTable();
        }
        LookupRun &make(const QStringList &addresses)
        {
            RunOptions options;
            options.site = [this] { return site; };
            options.delayText = [this] { return delay; };
            run = std::make_unique<LookupRun>(addresses, std::move(options));
            feedResultsTable(*run, table);
            return *run;
        }
        bool runToEnd(const QStringList &addresses, int timeoutMs = 10000)
        {
            LookupRun &r = make(addresses);
            QSignalSpy done(&r, &LookupRun::finished);
            r.start();
            return done.count() == 1 || done.wait(timeoutMs);
        }
    };

    static TestHttpServer::Response page(const QByteArray &target)
    {
        TestHttpServer::Response r;
        r.body = pageFor(target);
        return r;
    }

private slots:
    // At most Window addresses are in work or waiting for an earlier row; the rows given make
    // room for as many more, taken AdmitStep at a time (the store reads a step's addresses at
    // once).
    void admissionWindow()
    {
        QStringList addresses;
        for (qsizetype i = 0; i < LookupRun::Window + LookupRun::AdmitStep + 5; ++i)
            addresses << QStringLiteral("n%1@whois.test").arg(i);
        ScriptedRun r(std::make_unique<ListFeed>(addresses));
        QSignalSpy results(r.run.get(), &LookupRun::resultReady);
        r.run->start();
        QCOMPARE(r.run->takenCount(), LookupRun::Window);
        QCOMPARE(r.sources->lookups, LookupRun::Window);
        for (qsizetype i = 0; i < LookupRun::AdmitStep; ++i) {
            QTRY_COMPARE(r.sources->pending.size(), 1); // one at a time to the one server
            QCOMPARE(r.run->takenCount(), LookupRun::Window);
            r.sources->answer(QStringLiteral("n%1@whois.test").arg(i));
        }
        QCOMPARE(results.count(), LookupRun::AdmitStep);
        QCOMPARE(r.run->takenCount(), LookupRun::Window + LookupRun::AdmitStep);
        QCOMPARE(r.sources->lookups, LookupRun::Window + LookupRun::AdmitStep);
    }

    // The pause after a row follows that row's delay: when it did not read, there is none,
    // though a later answer to an earlier row read a good one.
    void pauseAfterTheLastRowGiven_data()
    {
        QTest::addColumn<QString>("secondRowDelay"); // read when its answer comes, first
        QTest::addColumn<QString>("firstRowDelay");  // read when its answer comes, second
        QTest::addColumn<QList<int>>("pauses");
        QTest::addColumn<QList<qsizetype>>("unreadable");
        QTest::newRow("both read")
            << QStringLiteral("1") << QStringLiteral("1") << QList<int>{1} << QList<qsizetype>{};
        QTest::newRow("the last row's does not read")
            << QStringLiteral("abc") << QStringLiteral("1") << QList<int>{} << QList<qsizetype>{1};
        QTest::newRow("the first row's does not read")
            << QStringLiteral("1") << QStringLiteral("abc") << QList<int>{} << QList<qsizetype>{0};
    }
    void pauseAfterTheLastRowGiven()
    {
        QFETCH(QString, secondRowDelay);
        QFETCH(QString, firstRowDelay);
        QFETCH(QList<int>, pauses);
        QFETCH(QList<qsizetype>, unreadable);
        ScriptedRun r(std::make_unique<ListFeed>(
            QStringList{QStringLiteral("a@one.test"), QStringLiteral("b@two.test")}));
        QSignalSpy paused(r.run.get(), &LookupRun::pausing);
        QSignalSpy marked(r.run.get(), &LookupRun::delayUnreadable);
        QSignalSpy results(r.run.get(), &LookupRun::resultReady);
        QSignalSpy done(r.run.get(), &LookupRun::finished);
        r.run->start();
        QTRY_COMPARE(r.sources->pending.size(), 2);
        r.delay = secondRowDelay;
        r.sources->answer(QStringLiteral("b@two.test"));
        QCOMPARE(results.count(), 0); // waits for the first row
        r.delay = firstRowDelay;
        r.sources->answer(QStringLiteral("a@one.test"));
        QCOMPARE(results.count(), 2);
        QList<int> seen;
        for (const auto &args : paused)
            seen << args.at(0).toInt();
        QCOMPARE(seen, pauses);
        QList<qsizetype> seenMarked;
        for (const auto &args : marked)
            seenMarked << args.at(0).value<qsizetype>();
        QCOMPARE(seenMarked, unreadable);
        r.run->requestStop();
        QVERIFY(done.count() == 1 || done.wait(2000));
    }

    // The run's parallel option bounds the servers busy at once.
    void parallelServers()
    {
        ScriptedRun r(std::make_unique<ListFeed>(
                          QStringList{QStringLiteral("a@one.test"), QStringLiteral("b@two.test")}),
                      1);
        r.run->start();
        QTRY_COMPARE(r.sources->pending.keys(), QStringList{QStringLiteral("a@one.test")});
        QTest::qWait(20);
        QCOMPARE(r.sources->pending.size(), 1);
        r.sources->answer(QStringLiteral("a@one.test"));
        QTRY_COMPARE(r.sources->pending.keys(), QStringList{QStringLiteral("b@two.test")});
    }

    // With nothing left, the run still ends only after the pause that follows the last answer.
    void lastPauseBeforeTheEnd()
    {
        ScriptedRun r(std::make_unique<ListFeed>(QStringList{QStringLiteral("a@one.test")}));
        r.delay = QStringLiteral("1");
        QSignalSpy paused(r.run.get(), &LookupRun::pausing);
        QSignalSpy done(r.run.get(), &LookupRun::finished);
        r.run->start();
        QTRY_COMPARE(r.sources->pending.size(), 1);
        r.sources->answer(QStringLiteral("a@one.test"));
        QTest::qWait(50);
        QCOMPARE(paused.count(), 1);
        QCOMPARE(done.count(), 0);
        QCOMPARE(r.run->state(), LookupRun::State::Running);
        r.run->requestStop();
        QVERIFY(done.count() == 1 || done.wait(2000));
    }

    // A feed with nothing ready does not end the run; what comes later is looked up in order,
    // and an end that comes after the last answer finishes it.
    void feedThatWaits()
    {
        Harness h(page);
        auto feed = std::make_unique<DripFeed>();
        DripFeed *drip = feed.get();
        drip->waiting = {QStringLiteral("a.com")};
        RunOptions options;
        options.site = [] { return std::optional(Site::Option2); };
        options.delayText = [] { return QStringLiteral("0"); };
        LookupRun run(std::move(feed), std::move(options));
        feedResultsTable(run, h.table);
        QSignalSpy results(&run, &LookupRun::resultReady);
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QVERIFY(results.wait(10000));
        QTest::qWait(50);
        QCOMPARE(done.count(), 0);
        drip->add({QStringLiteral("b.org"), QStringLiteral("c.net")}, false);
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 3, 10000);
        QTest::qWait(50);
        QCOMPARE(done.count(), 0);
        drip->add({}, true);
        QVERIFY(done.wait(10000));
        QCOMPARE(rows(h.table), (QStringList{QStringLiteral("a.com"), QStringLiteral("b.org"),
                                             QStringLiteral("c.net")}));
    }

    void threeAddressesGiveThreeRowsInOrder()
    {
        Harness h(page);
        QVERIFY(h.runToEnd(
            {QStringLiteral("a.com"), QStringLiteral("b.org"), QStringLiteral("c.net")}));
        QCOMPARE(rows(h.table), (QStringList{QStringLiteral("a.com"), QStringLiteral("b.org"),
                                             QStringLiteral("c.net")}));
        QCOMPARE(h.table.headerCount(), 4);
        QCOMPARE(h.table.headerText(4), QStringLiteral("Name Server"));
        QCOMPARE(h.table.subItem(2, 1), QStringLiteral("b.org"));
        QCOMPARE(h.table.subItem(3, 3), QStringLiteral("ns1.c.net\tns2.c.net"));
    }

    void tenThousandAddressesInOneRun()
    {
        Harness h(page);
        QStringList addresses;
        for (int i = 0; i < 10000; ++i)
            addresses << QStringLiteral("host%1.example").arg(i);
        QVERIFY(h.runToEnd(addresses, 600000));
        QCOMPARE(h.table.itemCount(), 10000);
        QCOMPARE(h.table.itemText(10000), QStringLiteral("host9999.example"));
        QCOMPARE(h.table.subItem(10000, 3),
                 QStringLiteral("ns1.host9999.example\tns2.host9999.example"));
        QCOMPARE(h.run->isFetching(), false);
#if !defined(__SANITIZE_ADDRESS__)
        // The whole test process, server and every page's connection included.
        QVERIFY2(processMemoryMiB("VmHWM:") < 300,
                 qPrintable(QStringLiteral("peak %1 MiB").arg(processMemoryMiB("VmHWM:"))));
#endif
    }

    void eachSiteBuildsItsPageAddress_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("Option1") << 1 << QByteArray("/whois/192.0.2.1");
        QTest::newRow("Option2") << 2 << QByteArray("/192.0.2.1");
        QTest::newRow("Option3") << 3 << QByteArray("/ui?queryinput=192.0.2.1");
    }
    void eachSiteBuildsItsPageAddress()
    {
        QFETCH(int, site);
        QFETCH(QByteArray, target);
        Harness h(page);
        h.site = Site(site);
        QVERIFY(h.runToEnd({QStringLiteral("192.0.2.1")}));
        QCOMPARE(h.server.targets, QList<QByteArray>{target});
    }

    void failuresMarkTheRowAndTheRunGoesOn()
    {
        Harness h([](const QByteArray &target) {
            TestHttpServer::Response r = page(target);
            r.reset = target.contains("bad");
            if (target.contains("clash")) // a field named like the address column
                r.body =
                    "<div id=\"whoisRecordContainer\">ip address(es)/domain(s): x<br>A: 1</div>";
            return r;
        });
        QVERIFY(h.runToEnd(
            {QStringLiteral("bad.com"), QStringLiteral("clash.com"), QStringLiteral("ok.com")}));
        QCOMPARE(rows(h.table), (QStringList{QStringLiteral("Invalid input: bad.com"),
                                             QStringLiteral("Invalid input: clash.com"),
                                             QStringLiteral("ok.com")}));
        QCOMPARE(h.table.subItem(2, h.table.FindResultColumn(QStringLiteral("A")) - 1),
                 QStringLiteral("1"));
    }

    void pagesWithoutTheElementLeaveTheAddressOnly()
    {
        Harness h([](const QByteArray &) {
            TestHttpServer::Response r;
            r.body = "<html><body><p>No match</p></body></html>";
            return r;
        });
        QVERIFY(h.runToEnd({QStringLiteral(" spaced.com")}));
        QCOMPARE(rows(h.table), QStringList{QStringLiteral(" spaced.com")});
        QCOMPARE(h.table.headerCount(), 1);
        QCOMPARE(h.server.targets, QList<QByteArray>{"/%20spaced.com"});
    }

    void pauses_data()
    {
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QList<int>>("pauses");
        QTest::newRow("0") << QStringLiteral("0") << QList<int>{};
        QTest::newRow("-3") << QStringLiteral("-3") << QList<int>{};
        QTest::newRow("1, after every address") << QStringLiteral("1") << QList<int>{1, 1};
    }
    void pauses()
    {
        QFETCH(QString, delay);
        QFETCH(QList<int>, pauses);
        Harness h(page);
        h.delay = delay;
        LookupRun &run = h.make({QStringLiteral("a"), QStringLiteral("b")});
        QSignalSpy paused(&run, &LookupRun::pausing);
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QVERIFY(done.wait(10000));
        QList<int> seen;
        for (const auto &args : paused)
            seen << args.at(0).toInt();
        QCOMPARE(seen, pauses);
        QCOMPARE(rows(h.table), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    }

    void delayChangedOutOfRangeMarksEveryLaterRow()
    {
        Harness h(page);
        LookupRun &run = h.make({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        QSignalSpy paused(&run, &LookupRun::pausing);
        QSignalSpy done(&run, &LookupRun::finished);
        // The delay changes once the first row is there, as a user typing during the run.
        connect(&h.table, &QAbstractItemModel::rowsInserted, &run,
                [&h] { h.delay = QStringLiteral("40000"); });
        run.start();
        QVERIFY(done.wait(10000));
        QCOMPARE(rows(h.table), (QStringList{QStringLiteral("Invalid input: a"),
                                             QStringLiteral("Invalid input: b"),
                                             QStringLiteral("Invalid input: c")}));
        QCOMPARE(paused.count(), 0);
    }

    void stopDuringAPauseEndsPromptly()
    {
        Harness h(page);
        h.delay = QStringLiteral("3600");
        LookupRun &run = h.make({QStringLiteral("a"), QStringLiteral("b")});
        QSignalSpy paused(&run, &LookupRun::pausing);
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QVERIFY(paused.wait(10000));
        run.requestStop();
        QVERIFY(done.wait(2000));
        QCOMPARE(rows(h.table), QStringList{QStringLiteral("a")});
        QCOMPARE(h.table.headerCount(), 4); // the record before the pause was placed
    }

    void stopDuringASlowPageLeavesTheAddressOnly()
    {
        Harness h([](const QByteArray &target) {
            TestHttpServer::Response r = page(target);
            r.hang = true;
            return r;
        });
        LookupRun &run = h.make({QStringLiteral("slow.com"), QStringLiteral("next.com")});
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QTRY_COMPARE(h.server.targets.size(), 1);
        run.requestStop();
        QVERIFY(done.wait(2000));
        QCOMPARE(rows(h.table), QStringList{QStringLiteral("slow.com")});
        QCOMPARE(done.count(), 1);
    }

    void recordOverTheColumnCapSparesTheNextRow()
    {
        // The first record brings more distinct names than the table has columns for.
        Harness h([](const QByteArray &target) {
            TestHttpServer::Response r;
            QByteArray record;
            if (target.endsWith("/wide")) {
                for (int i = 0; i < ResultsTable::MaxColumns + 100; ++i)
                    record += "Name" + QByteArray::number(i) + ": v<br>";
            } else {
                record = "Name7: seven<br>Name40000: new";
            }
            r.body = "<div id=\"whoisRecordContainer\">" + record + "</div>";
            return r;
        });
        QVERIFY(h.runToEnd({QStringLiteral("wide"), QStringLiteral("next")}, 60000));
        QCOMPARE(h.table.headerCount(), ResultsTable::MaxColumns);
        // Marked once, not once per name that did not fit.
        QCOMPARE(rows(h.table), (QStringList{QStringLiteral("Invalid input: wide"),
                                             QStringLiteral("Invalid input: next")}));
        // The next row still fills the columns there are.
        QCOMPARE(h.table.subItem(2, h.table.FindResultColumn(QStringLiteral("Name7")) - 1),
                 QStringLiteral("seven"));
    }

    void stopDuringASlowParseActsAtOnce()
    {
        // A page that takes its parser seconds: 100,000 nested elements.
        Harness h([](const QByteArray &) {
            TestHttpServer::Response r;
            r.body = "<div id=\"whoisRecordContainer\">" + QByteArray("<div>").repeated(100000) +
                     "x: y</div>";
            return r;
        });
        LookupRun &run = h.make({QStringLiteral("deep.com"), QStringLiteral("next.com")});
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QTRY_COMPARE(h.server.targets.size(), 1);
        QTRY_VERIFY(run.isFetching());
        QTest::qWait(300); // the page is being read on its worker by now
        QElapsedTimer clock;
        clock.start();
        run.requestStop();
        QVERIFY(done.wait(2000));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(rows(h.table), QStringList{QStringLiteral("deep.com")});
        QCOMPARE(h.table.headerCount(), 1); // the abandoned parse placed nothing
    }

    void secondRunAfterAResetStartsAfresh()
    {
        Harness h(page);
        QVERIFY(h.runToEnd({QStringLiteral("a.com")}));
        h.table.ResetResultsTable();
        QVERIFY(h.runToEnd({QStringLiteral("b.org"), QStringLiteral("c.net")}));
        QCOMPARE(rows(h.table), (QStringList{QStringLiteral("b.org"), QStringLiteral("c.net")}));
        QCOMPARE(h.table.headerCount(), 4);
        QCOMPARE(h.table.subItem(1, 1), QStringLiteral("b.org"));
    }

    void aPauseIsNeverShort()
    {
        // A coarse timer may end a pause up to 5% early; the run's pause is precise. It is timed
        // from when the first page is served, before the run sees its end: the run's own signal
        // comes after the moment its pause counts from.
        QElapsedTimer clock;
        Harness h([&clock](const QByteArray &target) {
            if (target.endsWith("/a"))
                clock.start();
            return page(target);
        });
        h.delay = QStringLiteral("1");
        LookupRun &run = h.make({QStringLiteral("a"), QStringLiteral("b")});
        qint64 pauseMs = -1;
        connect(&run, &LookupRun::lookupStarted, &run, [&](qsizetype index) {
            if (index == 1 && clock.isValid())
                pauseMs = clock.elapsed();
        });
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QVERIFY(done.wait(10000));
        QVERIFY2(pauseMs >= 1000, qPrintable(QString::number(pauseMs)));
    }

    void aMappedSiteHostGoesWhereTheMapSays()
    {
        Harness h(page);
        RunOptions options;
        options.site = [] { return std::optional<Site>(Site::Option2); };
        options.delayText = [] { return QStringLiteral("0"); };
        options.sites.setPrefix(Site::Option2, QStringLiteral("http://whois.site.test/"));
        const QString port = h.server.baseUrl().section(u':', -1);
        options.connectTo = ConnectToMap::parse(u"whois.site.test:80:127.0.0.1:"_s + port);
        LookupRun run({QStringLiteral("a.com")}, std::move(options));
        feedResultsTable(run, h.table);
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        QVERIFY(done.wait(10000));
        QCOMPARE(h.server.targets, QList<QByteArray>{"/a.com"});
        QCOMPARE(h.table.subItem(1, 1), QStringLiteral("a.com"));
    }

    void noSiteLeavesRecordsEmpty()
    {
        Harness h(page);
        h.site.reset();
        QVERIFY(h.runToEnd({QStringLiteral("a")}));
        QCOMPARE(rows(h.table), QStringList{QStringLiteral("a")});
        QVERIFY(h.server.targets.isEmpty());
    }
};

QUORVANE_REGISTER_TEST(DelayTests)
QUORVANE_REGISTER_TEST(LookupRunTests)
#include "tst_lookuprun.moc"
