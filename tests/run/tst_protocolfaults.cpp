// The protocol sources against faulty and hostile parties on 127.0.0.1, end to end through a
// run: a server asking to wait for ever, a connection reset part way through an answer, an
// RDAP bootstrap that has not arrived yet (or cannot be kept), links to refused addresses,
// error pages sent for RDAP answers.
#include "rdap/rdapbootstrap.h"
#include "run/lookuprun.h"
#include "testhttpserver.h"
#include "testregistry.h"
#include "testwhoisserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace Qt::StringLiterals;

namespace {

using Reply = TestWhoisServer::Reply;

QByteArray bootstrapFile(const QByteArray &services)
{
    return R"({"version":"1.0","publication":"2024-01-01T00:00:00Z","services":[)" + services +
           "]}";
}

// "tld" -> base URL, as a dns.json services list.
QByteArray dnsServices(const QList<std::pair<QString, QString>> &services)
{
    QByteArray list;
    for (const auto &[tld, base] : services)
        list += QByteArray(list.isEmpty() ? "" : ",") +
                u"[[\"%1\"],[\"%2\"]]"_s.arg(tld, base).toUtf8();
    return list;
}

TestHttpServer::Response rdapObject(const QByteArray &json)
{
    TestHttpServer::Response r;
    r.contentType = "application/rdap+json";
    r.body = json;
    return r;
}

// Sets environment variables for the life of the object.
class Environment
{
public:
    void set(const char *name, const QByteArray &value)
    {
        m_kept.emplace_back(name, qEnvironmentVariableIsSet(name)
                                      ? std::optional<QByteArray>(qgetenv(name))
                                      : std::nullopt);
        qputenv(name, value);
    }
    ~Environment()
    {
        for (auto it = m_kept.rbegin(); it != m_kept.rend(); ++it) {
            if (it->second)
                qputenv(it->first, *it->second);
            else
                qunsetenv(it->first);
        }
    }

private:
    std::vector<std::pair<const char *, std::optional<QByteArray>>> m_kept;
};

struct Run
{
    QTemporaryDir cache;
    TestWhoisServer iana{[](const QByteArray &tld) {
        return Reply{"domain: " + tld.toUpper() + "\nrefer: whois.nic." + tld + "\n"};
    }};
    std::map<QString, std::unique_ptr<TestWhoisServer>> whois;
    QStringList mapping{iana.mapping(u"whois.iana.org"_s)};
    std::shared_ptr<RdapBootstrap> bootstrap;
    SourceKind source = SourceKind::Rdap;
    QList<LookupResult> results;
    QStringList notices;

    TestWhoisServer &addWhois(const QString &host, TestWhoisServer::Handler handler)
    {
        auto &server = whois[host];
        server = std::make_unique<TestWhoisServer>(std::move(handler));
        mapping << server->mapping(host);
        return *server;
    }
    void rdapServices(const QList<std::pair<QString, QString>> &services)
    {
        bootstrap = std::make_shared<RdapBootstrap>();
        QString reason;
        if (!bootstrap->load(RdapRegistry::Dns, bootstrapFile(dnsServices(services)), &reason))
            qFatal("bootstrap: %s", qPrintable(reason));
    }
    bool toEnd(const QStringList &addresses, int timeoutMs = 15000)
    {
        RunOptions options;
        options.source = [this] { return std::optional(source); };
        options.delayText = [] { return u"0"_s; };
        options.connectTo = ConnectToMap::parse(mapping.join(u','));
        options.proxy = {};
        options.cacheFolder = cache.path();
        options.rdapBootstrap = bootstrap;
        options.whoisLimits.connectTimeoutMs = 2000;
        options.whoisLimits.answerTimeoutMs = 5000;
        LookupRun run(addresses, std::move(options));
        QObject::connect(&run, &LookupRun::resultReady, &run,
                         [this](qsizetype, const LookupResult &r) { results << r; });
        QObject::connect(&run, &LookupRun::notice, &run,
                         [this](const QString &text) { notices << text; });
        QSignalSpy done(&run, &LookupRun::finished);
        run.start();
        return done.count() == 1 || done.wait(timeoutMs);
    }
};

} // namespace

class ProtocolFaultTests : public QObject
{
    Q_OBJECT

private slots:
    // A Retry-After beyond the longest wait is throttling at once: the row ends throttled
    // after one request, and the rows behind it are not held back.
    void retryAfterBeyondTheCapThrottlesAtOnce_data()
    {
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::newRow("seconds") << QByteArray("999999999");
        QTest::newRow("a date in 2100") << QByteArray("Fri, 01 Jan 2100 00:00:00 GMT");
        QTest::newRow("just over five minutes") << QByteArray("301");
    }
    void retryAfterBeyondTheCapThrottlesAtOnce()
    {
        QFETCH(QByteArray, retryAfter);
        TestHttpServer slow([&](const QByteArray &) {
            TestHttpServer::Response r;
            r.status = 429;
            r.headers << "Retry-After: " + retryAfter;
            return r;
        });
        TestHttpServer fine([](const QByteArray &) {
            return rdapObject(R"({"objectClassName":"domain","ldhName":"b.fine"})");
        });
        Run run;
        run.rdapServices({{u"slow"_s, slow.baseUrl() + u'/'}, {u"fine"_s, fine.baseUrl() + u'/'}});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(run.toEnd({u"a.slow"_s, u"b.fine"_s}, 10000));
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(run.results.size(), 2);
        QCOMPARE(run.results[0].status, LookupStatus::Throttled);
        QCOMPARE(slow.targets.size(), 1);
        QVERIFY2(run.results[1].ok(), qPrintable(run.results[1].error));
    }

    // A reset after part of an answer is a broken exchange: the row fails with the reason,
    // asked once (a server refusing our pace would be asked again), and three in a row are a
    // server that is down.
    void resetAfterPartOfAnAnswerIsAFailureNotThrottling()
    {
        Run run;
        run.source = SourceKind::Whois;
        TestWhoisServer &cut = run.addWhois(u"whois.nic.cut"_s, [](const QByteArray &) {
            return Reply{"Domain Name: CUT\r\n" + QByteArray(5000, 'x'), true};
        });
        QVERIFY(run.toEnd({u"a.cut"_s, u"b.cut"_s, u"c.cut"_s, u"d.cut"_s}));
        QCOMPARE(run.results.size(), 4);
        for (int i = 0; i < 3; ++i) {
            const LookupResult &r = run.results[i];
            QCOMPARE(r.status, LookupStatus::Failed);
            QVERIFY2(r.error.contains(u"reset"_s, Qt::CaseInsensitive), qPrintable(r.error));
        }
        QCOMPARE(run.results[3].reason, FailureReason::ServerDown);
        QCOMPARE(cut.queries.size(), 3);
    }

    // With no usable cached copy, RDAP lookups (and the auto source's choice) wait for the
    // bootstrap from the folder QUORVANE_RDAP_BOOTSTRAP names; a cache that cannot be read or
    // kept, or a folder that cannot be reached, is said once.
    void rdapLookupsWaitForTheBootstrap_data()
    {
        QTest::addColumn<SourceKind>("source");
        QTest::addColumn<QString>("cacheState"); // "empty", "truncated", "not a folder"
        QTest::addColumn<bool>("mirrorUp");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("notice"); // a word the one notice holds, or "" for none
        QTest::newRow("rdap, empty cache") << SourceKind::Rdap << "empty" << true << true << "";
        QTest::newRow("auto, empty cache") << SourceKind::Auto << "empty" << true << true << "";
        QTest::newRow("rdap, a cached file cut short")
            << SourceKind::Rdap << "truncated" << true << true << "does not read";
        QTest::newRow("rdap, cache cannot be kept")
            << SourceKind::Rdap << "not a folder" << true << true << "from memory";
        QTest::newRow("rdap, the folder cannot be reached")
            << SourceKind::Rdap << "empty" << false << false << "built-in";
    }
    void rdapLookupsWaitForTheBootstrap()
    {
        QFETCH(SourceKind, source);
        QFETCH(QString, cacheState);
        QFETCH(bool, mirrorUp);
        QFETCH(bool, answered);
        QFETCH(QString, notice);
        TestHttpServer rdap([](const QByteArray &) {
            return rdapObject(R"({"objectClassName":"domain","ldhName":"example.test"})");
        });
        int fetches = 0;
        TestHttpServer mirror([&](const QByteArray &target) {
            ++fetches;
            TestHttpServer::Response r;
            r.contentType = "application/json";
            // Late, as over a real network: a lookup that does not wait is ahead of it.
            r.delayMs = 300;
            r.body = target.endsWith("/dns.json")
                         ? bootstrapFile(dnsServices({{u"test"_s, rdap.baseUrl() + u'/'}}))
                         : bootstrapFile({});
            return r;
        });
        quint16 closedPort = 0;
        {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            closedPort = closed.serverPort();
        }
        Run run;
        run.source = source;
        const QString cacheHome = run.cache.filePath(u"cache"_s);
        const QString quorvane = cacheHome + u"/Quorvane"_s;
        if (cacheState == u"not a folder") {
            QVERIFY(QDir().mkpath(cacheHome));
            QFile file(quorvane);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (cacheState == u"truncated") {
            QVERIFY(QDir().mkpath(quorvane + u"/rdap"_s));
            QFile file(quorvane + u"/rdap/dns.json"_s);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bootstrapFile(dnsServices({{u"test"_s, rdap.baseUrl() + u'/'}})).left(40));
        }
        Environment environment;
        environment.set("XDG_CACHE_HOME", QFile::encodeName(cacheHome));
        environment.set("QUORVANE_RDAP_BOOTSTRAP",
                        mirrorUp ? (mirror.baseUrl() + u"/rdap/"_s).toUtf8()
                                 : "http://127.0.0.1:" + QByteArray::number(closedPort) + "/");
        // A whois server for the auto source to fall back on, were it not to wait.
        run.addWhois(u"whois.nic.test"_s,
                     [](const QByteArray &) { return Reply{"Domain Name: from port 43\r\n"}; });

        QVERIFY(run.toEnd({u"example.test"_s}));
        QCOMPARE(run.results.size(), 1);
        const LookupResult &result = run.results[0];
        QCOMPARE(result.ok(), answered);
        if (answered) {
            QCOMPARE(result.source, SourceKind::Rdap);
            QCOMPARE(rdap.targets, QList<QByteArray>{"/domain/example.test"});
        } else {
            QVERIFY2(result.error.contains(u"no RDAP service"_s), qPrintable(result.error));
        }
        QCOMPARE(fetches, mirrorUp ? 4 : 0);
        if (notice.isEmpty()) {
            QCOMPARE(run.notices, QStringList());
        } else {
            QCOMPARE(run.notices.size(), 1);
            QVERIFY2(run.notices[0].contains(notice), qPrintable(run.notices[0]));
        }
    }

    // A link read from an answer that leads to a refused address asks no server: the servers
    // asked are the registry alone, and the registry's record stands. An answer that is no
    // RDAP object says what it was sent as.
    void refusedLinksAndErrorPages()
    {
        int registrarConnections = 0;
        QTcpServer registrar;
        QVERIFY(registrar.listen(QHostAddress::LocalHost));
        connect(&registrar, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *socket = registrar.nextPendingConnection()) {
                ++registrarConnections;
                socket->setParent(&registrar);
            }
        });
        const QByteArray link =
            "http://127.0.0.1:" + QByteArray::number(registrar.serverPort()) + "/domain/x";
        TestHttpServer registry([&](const QByteArray &target) {
            if (target.contains("html.test")) {
                TestHttpServer::Response r;
                r.contentType = "text/html";
                r.body = "<html><body>Service unavailable</body></html>";
                return r;
            }
            return rdapObject(R"({"objectClassName":"domain","ldhName":"linked.test",
                "links":[{"rel":"related","type":"application/rdap+json","href":")" +
                              link + R"("}]})");
        });
        // Named, not written as an address: to the rules it stands for a public server.
        const QString base = u"http://localhost:"_s + registry.baseUrl().section(u':', -1) + u'/';
        Run run;
        run.rdapServices({{u"test"_s, base}});
        QVERIFY(run.toEnd({u"linked.test"_s, u"html.test"_s}));
        QCOMPARE(run.results.size(), 2);
        const LookupResult &linked = run.results[0];
        QVERIFY2(linked.ok(), qPrintable(linked.error));
        QCOMPARE(linked.servers, QStringList{u"localhost:"_s + base.section(u':', -1).chopped(1)});
        QCOMPARE(registrarConnections, 0);
        const LookupResult &html = run.results[1];
        QCOMPARE(html.status, LookupStatus::Failed);
        QVERIFY2(html.error.contains(u"not JSON"_s) && html.error.contains(u"text/html"_s),
                 qPrintable(html.error));
    }
};

QUORVANE_REGISTER_TEST(ProtocolFaultTests)
#include "tst_protocolfaults.moc"
