// quorvane-cli --proxy: RDAP (the bootstrap files included) through an HTTP proxy, port 43
// through a SOCKS5 proxy that looks the servers' names up itself; both proxies are the test's
// own, on 127.0.0.1, and nothing reaches a server but through them.
#include "testhttpserver.h"
#include "testregistry.h"
#include "testsocksserver.h"
#include "testwhoisserver.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome runCli(const QStringList &arguments, const QMap<QString, QString> &variables)
{
    QTemporaryDir cache;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_CACHE_HOME"_s, cache.path());
    // Every proxy and connect-to variable of the test's own environment left out.
    for (const char *name : {"no_proxy", "NO_PROXY", "http_proxy", "https_proxy", "HTTPS_PROXY",
                             "all_proxy", "ALL_PROXY", "QUORVANE_CONNECT_TO"})
        env.remove(QString::fromLatin1(name));
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVANE_CLI), arguments);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TestCliProxy : public QObject
{
    Q_OBJECT

private slots:
    void rdapThroughAnHttpProxy()
    {
        // Neither the bootstrap folder nor the RDAP service listens: only the proxy answers.
        const QString bootstrap = u"http://127.0.0.1:%1/rdap/"_s.arg(closedPort());
        const QString service = u"http://127.0.0.1:%1/"_s.arg(closedPort());
        TestHttpServer proxy([&](const QByteArray &target) {
            TestHttpServer::Response r;
            r.contentType = "application/json";
            if (target.endsWith("/dns.json"))
                r.body = R"({"version":"1.0","publication":"2024-01-01T00:00:00Z","services":)"
                         R"([[["test"],[")" +
                         service.toUtf8() + R"("]]]})";
            else if (target.endsWith(".json"))
                r.body = R"({"version":"1.0","publication":"2024-01-01T00:00:00Z","services":[]})";
            else
                r.body = R"({"objectClassName":"domain","ldhName":"example.test"})";
            return r;
        });
        const Outcome outcome =
            runCli({u"--source"_s, u"rdap"_s, u"--proxy"_s, proxy.baseUrl(), u"-f"_s, u"jsonl"_s,
                    u"-d"_s, u"0"_s, u"-a"_s, u"example.test"_s},
                   {{u"QUORVANE_RDAP_BOOTSTRAP"_s, bootstrap}});
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        const QJsonObject line = QJsonDocument::fromJson(outcome.out).object();
        QCOMPARE(line[u"status"].toString(), u"registered"_s);
        QCOMPARE(proxy.targets.size(), 5); // four bootstrap files, then the domain
        QVERIFY(proxy.targets.contains((service + u"domain/example.test"_s).toUtf8()));
    }

    void portFortyThreeThroughASocks5Proxy()
    {
        TestWhoisServer iana([](const QByteArray &tld) {
            return TestWhoisServer::Reply{"domain: " + tld + "\nrefer: whois.nic." + tld + "\n"};
        });
        TestWhoisServer registry([](const QByteArray &name) {
            return TestWhoisServer::Reply{"Domain Name: " + name + "\r\n"};
        });
        TestSocksServer proxy;
        proxy.names.insert(u"whois.iana.org"_s, iana.port());
        proxy.names.insert(u"whois.nic.tst"_s, registry.port());
        const Outcome outcome =
            runCli({u"--source"_s, u"whois"_s, u"--proxy"_s, proxy.url(u"socks5h"_s), u"-f"_s,
                    u"jsonl"_s, u"-d"_s, u"0"_s, u"-a"_s, u"example.tst"_s},
                   {});
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        const QJsonObject line = QJsonDocument::fromJson(outcome.out).object();
        QCOMPARE(line[u"servers"].toVariant().toStringList(),
                 (QStringList{u"whois.iana.org"_s, u"whois.nic.tst"_s}));
        QCOMPARE(registry.queries, QList<QByteArray>{"example.tst\r\n"});
        QCOMPARE(proxy.requests.size(), 2);
        for (const TestSocksServer::Request &request : std::as_const(proxy.requests)) {
            QCOMPARE(request.addressType, 3); // the name, for the proxy to look up
            QCOMPARE(request.port, quint16(43));
        }
    }
};

QUORVANE_REGISTER_TEST(TestCliProxy)
#include "tst_cliproxy.moc"
