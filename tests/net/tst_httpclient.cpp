#include "net/httpclient.h"
#include "net/proxysettings.h"
#include "testhttpserver.h"
#include "testregistry.h"

#include <QTcpServer>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

FetchResult get(HttpClient &http, const FetchRequest &request)
{
    std::optional<FetchResult> result;
    http.get(request, [&](const FetchResult &r) { result = r; });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
        qFatal("no result");
    return *result;
}

TestHttpServer::Response ok(const QByteArray &body)
{
    TestHttpServer::Response r;
    r.body = body;
    return r;
}

} // namespace

// The HTTP client's own rules: an address from an untrusted answer is checked before any
// connection is made; proxies are the ones the settings name, for the hosts they name.
class HttpClientTests : public QObject
{
    Q_OBJECT

private slots:
    // Not a connection is opened to a refused address, so not a TLS handshake either.
    void nonPublicAddressRefusedBeforeConnecting_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("refuse");
        QTest::newRow("https to loopback") << "https"
                                           << "127.0.0.1" << true;
        QTest::newRow("http to a name of loopback") << "http"
                                                    << "localhost" << true;
        QTest::newRow("IPv4-mapped loopback") << "https"
                                              << "[::ffff:127.0.0.1]" << true;
        QTest::newRow("trusted: connects") << "https"
                                           << "127.0.0.1" << false;
    }
    void nonPublicAddressRefusedBeforeConnecting()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, host);
        QFETCH(bool, refuse);
        // A listener that only counts: it never answers.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::Any));
        int connections = 0;
        connect(&listener, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *socket = listener.nextPendingConnection()) {
                ++connections;
                socket->setParent(&listener);
            }
        });
        HttpClient http;
        http.setProxy({});
        FetchRequest request;
        request.url = (scheme + u"://"_s + host + u':' + QString::number(listener.serverPort()) +
                       u"/ip/10.0.0.1"_s)
                          .toUtf8();
        request.refuseNonPublic = refuse;
        request.timeoutMs = 1500;
        const FetchResult result = get(http, request);
        QVERIFY(!result.ok());
        QCOMPARE(result.refusedNonPublic, refuse);
        if (refuse) {
            QCOMPARE(result.error, FetchResult::Error::Refused);
            QVERIFY2(result.errorText.contains(u"loopback"_s), qPrintable(result.errorText));
        }
        QTest::qWait(50);
        QCOMPARE(connections, refuse ? 0 : 1);
    }

    // The proxy goes by the settings: for every host, or not for NO_PROXY's; the environment
    // read as libcurl reads it. Through a proxy, an address written in the URL is still
    // checked, and then the proxy is not contacted at all.
    void throughAnHttpProxy_data()
    {
        QTest::addColumn<QString>("proxyFrom"); // "option" or "environment"
        QTest::addColumn<QString>("noProxy");
        QTest::addColumn<bool>("refuseNonPublic");
        QTest::addColumn<QString>("reached"); // "proxy", "origin" or "nobody"
        QTest::newRow("option") << "option"
                                << "" << false << "proxy";
        QTest::newRow("option, host in NO_PROXY") << "option"
                                                  << "example.org,127.0.0.1" << false << "origin";
        QTest::newRow("option, a block in NO_PROXY") << "option"
                                                     << "127.0.0.0/8" << false << "origin";
        QTest::newRow("option, another host in NO_PROXY") << "option"
                                                          << ".127.0.0.2" << false << "proxy";
        QTest::newRow("http_proxy") << "environment"
                                    << "" << false << "proxy";
        QTest::newRow("http_proxy, host in no_proxy") << "environment"
                                                      << "*" << false << "origin";
        QTest::newRow("a loopback link from an answer") << "option"
                                                        << "" << true << "nobody";
    }
    void throughAnHttpProxy()
    {
        QFETCH(QString, proxyFrom);
        QFETCH(QString, noProxy);
        QFETCH(bool, refuseNonPublic);
        QFETCH(QString, reached);
        TestHttpServer origin([](const QByteArray &) { return ok("from the origin"); });
        TestHttpServer proxy([](const QByteArray &) { return ok("from the proxy"); });
        ProxySettings settings;
        if (proxyFrom == u"option") {
            settings = *ProxySettings::forEverything(proxy.baseUrl(), noProxy);
        } else {
            const QByteArray keptNoProxy = qgetenv("no_proxy");
            const QByteArray keptNOPROXY = qgetenv("NO_PROXY");
            qputenv("http_proxy", proxy.baseUrl().toUtf8());
            qputenv("no_proxy", noProxy.toUtf8());
            qunsetenv("NO_PROXY");
            settings = ProxySettings::fromEnvironment();
            qunsetenv("http_proxy");
            qputenv("no_proxy", keptNoProxy);
            qputenv("NO_PROXY", keptNOPROXY);
        }
        HttpClient http;
        http.setProxy(settings);
        FetchRequest request;
        request.url = (origin.baseUrl() + u"/domain/example.test"_s).toUtf8();
        request.refuseNonPublic = refuseNonPublic;
        const FetchResult result = get(http, request);
        QCOMPARE(result.body, reached == u"proxy"    ? QByteArray("from the proxy")
                              : reached == u"origin" ? QByteArray("from the origin")
                                                     : QByteArray());
        QCOMPARE(result.refusedNonPublic, reached == u"nobody");
        // A proxy is asked with the whole address.
        QCOMPARE(proxy.targets,
                 reached == u"proxy" ? QList<QByteArray>{request.url} : QList<QByteArray>{});
        QCOMPARE(origin.targets.size(), reached == u"origin" ? 1 : 0);
    }

    void noProxyMatching_data()
    {
        QTest::addColumn<QString>("noProxy");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("direct");
        QTest::newRow("the host itself") << "example.org"
                                         << "example.org" << true;
        QTest::newRow("a name under it") << "example.org"
                                         << "rdap.example.org" << true;
        QTest::newRow("leading dot") << ".example.org"
                                     << "example.org" << true;
        QTest::newRow("not a suffix at a dot") << "example.org"
                                               << "badexample.org" << false;
        QTest::newRow("case and trailing dot") << "Example.ORG"
                                               << "RDAP.example.org." << true;
        QTest::newRow("star") << "*"
                              << "anything.test" << true;
        QTest::newRow("an address") << "192.0.2.1"
                                    << "192.0.2.1" << true;
        QTest::newRow("an address, another") << "192.0.2.1"
                                             << "192.0.2.10" << false;
        QTest::newRow("a block") << "10.0.0.0/8, ::1"
                                 << "10.9.8.7" << true;
        QTest::newRow("IPv6 in brackets") << "[2001:db8::1]"
                                          << "[2001:db8::1]" << true;
        QTest::newRow("a name is no address") << "example.org"
                                              << "10.0.0.1" << false;
        QTest::newRow("spaces between") << "a.test  b.test"
                                        << "b.test" << true;
    }
    void noProxyMatching()
    {
        QFETCH(QString, noProxy);
        QFETCH(QString, host);
        QFETCH(bool, direct);
        const auto settings = ProxySettings::forEverything(u"http://proxy.test:3128"_s, noProxy);
        QCOMPARE(!settings->proxyFor(u"https", host).has_value(), direct);
    }
};

QUORVANE_REGISTER_TEST(HttpClientTests)
#include "tst_httpclient.moc"
