#include "net/connectto.h"
#include "net/httpclient.h"
#include "rdap/httprdapfetch.h"
#include "testhttpserver.h"
#include "testregistry.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

// Links read from an RDAP answer may not lead to a non-public address, unless the user mapped
// their host; the address checked is the one connected to.
class RdapFetchTests : public QObject
{
    Q_OBJECT

private slots:
    void linksFromAnswersReachOnlyPublicOrMappedHosts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("fromAnswer");
        QTest::addColumn<bool>("mapped");
        QTest::addColumn<bool>("fetched");
        QTest::newRow("the bootstrap's own service") << u"127.0.0.1"_s << false << false << true;
        QTest::newRow("a link to a loopback address") << u"127.0.0.1"_s << true << false << false;
        QTest::newRow("a link to a host the user mapped") << u"localhost"_s << true << true << true;
        QTest::newRow("a link to an unmapped name of a loopback address")
            << u"localhost"_s << true << false << false;
    }
    void linksFromAnswersReachOnlyPublicOrMappedHosts()
    {
        QFETCH(QString, host);
        QFETCH(bool, fromAnswer);
        QFETCH(bool, mapped);
        QFETCH(bool, fetched);
        TestHttpServer server([](const QByteArray &) {
            TestHttpServer::Response r;
            r.body = "{\"objectClassName\":\"domain\"}";
            r.contentType = "application/rdap+json";
            return r;
        });
        const QString port = server.baseUrl().section(u':', -1);
        const ConnectToMap map =
            mapped ? ConnectToMap::parse(host + u':' + port + u":127.0.0.1:"_s + port)
                   : ConnectToMap();
        HttpClient http;
        http.setConnectTo(map.curlEntries());
        HttpRdapFetch fetch(&http, false, map);
        std::optional<RdapFetchResult> result;
        fetch.fetch(
            QUrl(u"http://"_s + host + u':' + port + u"/domain/example.com"_s),
            [&](const RdapFetchResult &r) { result = r; }, fromAnswer);
        QTRY_VERIFY(result.has_value());
        QCOMPARE(result->ok, fetched);
        QCOMPARE(server.targets.size(), fetched ? 1 : 0);
        if (!fetched)
            QVERIFY2(result->failure.contains(u"loopback"_s), qPrintable(result->failure));
    }
};

QUORVANE_REGISTER_TEST(RdapFetchTests)
#include "tst_rdapfetch.moc"
