#include "fixtures.h"
#include "rdap/rdapanswer.h"
#include "rdap/rdapquery.h"
#include "testregistry.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(RdapQueryKind)
Q_DECLARE_METATYPE(RdapAnswer::Outcome)

namespace {

const QDateTime Now(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);

} // namespace

class TestRdapAnswer : public QObject
{
    Q_OBJECT

private slots:
    void outcome_data()
    {
        QTest::addColumn<RdapQueryKind>("kind");
        QTest::addColumn<bool>("fromRegistry");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<RdapAnswer::Outcome>("outcome");
        QTest::addColumn<int>("retrySeconds");
        QTest::addColumn<QString>("reason");
        using O = RdapAnswer::Outcome;
        const auto domain = RdapQueryKind::Domain;
        const QByteArray thin = fixture("rdap/domain_thin_registry.json");
        const QByteArray error = "{\"errorCode\": 400, \"title\": \"Bad request\", "
                                 "\"description\": [\"Malformed domain name.\", \"See help.\"]}";
        QTest::newRow("record") << domain << true << 200 << thin << QByteArray() << O::Record << -1
                                << QString();
        QTest::newRow("404 from the registry: available")
            << domain << true << 404 << QByteArray() << QByteArray() << O::Available << -1
            << u"not registered"_s;
        QTest::newRow("404 from a registrar") << domain << false << 404 << QByteArray()
                                              << QByteArray() << O::Failed << -1 << u"HTTP 404"_s;
        QTest::newRow("404 for an address") << RdapQueryKind::Address << true << 404 << QByteArray()
                                            << QByteArray() << O::Failed << -1 << u"HTTP 404"_s;
        QTest::newRow("429 in seconds")
            << domain << true << 429 << QByteArray() << QByteArray(" 120 ") << O::Throttled << 120
            << u"HTTP 429"_s;
        QTest::newRow("429 with an HTTP date")
            << domain << true << 429 << QByteArray() << QByteArray("Mon, 07 Dec 2026 12:01:30 GMT")
            << O::Throttled << 90 << u"HTTP 429"_s;
        QTest::newRow("429 with an RFC 850 date")
            << domain << true << 429 << QByteArray() << QByteArray("Monday, 07-Dec-26 12:02:00 GMT")
            << O::Throttled << 120 << u"HTTP 429"_s;
        QTest::newRow("429 with an asctime date")
            << domain << true << 429 << QByteArray() << QByteArray("Mon Dec  7 12:00:45 2026")
            << O::Throttled << 45 << u"HTTP 429"_s;
        QTest::newRow("429 with a past date")
            << domain << true << 429 << QByteArray() << QByteArray("Sun, 06 Dec 2026 12:00:00 GMT")
            << O::Throttled << 0 << u"HTTP 429"_s;
        QTest::newRow("429 without a time")
            << domain << true << 429 << QByteArray() << QByteArray("soon") << O::Throttled << -1
            << u"HTTP 429"_s;
        QTest::newRow("error object")
            << domain << true << 400 << error << QByteArray() << O::Failed << -1
            << u"HTTP 400: Bad request: Malformed domain name. See help."_s;
        QTest::newRow("not JSON") << domain << true << 200 << QByteArray("<html>busy</html>")
                                  << QByteArray() << O::Failed << -1 << u"not JSON"_s;
        QTest::newRow("JSON, not RDAP")
            << domain << true << 200 << QByteArray("{\"status\": \"ok\"}") << QByteArray()
            << O::Failed << -1 << u"not an RDAP object"_s;
        QTest::newRow("JSON array") << domain << true << 200 << QByteArray("[1]") << QByteArray()
                                    << O::Failed << -1 << u"not an RDAP object"_s;
        QTest::newRow("another object class")
            << RdapQueryKind::AsNumber << true << 200 << thin << QByteArray() << O::Failed << -1
            << u"not a \"autnum\""_s;
    }

    void outcome()
    {
        QFETCH(RdapQueryKind, kind);
        QFETCH(bool, fromRegistry);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, retryAfter);
        QFETCH(RdapAnswer::Outcome, outcome);
        QFETCH(int, retrySeconds);
        QFETCH(QString, reason);
        const RdapAnswer answer = ReadRdapAnswer(kind, fromRegistry, status, body, retryAfter, Now);
        QCOMPARE(answer.outcome, outcome);
        QCOMPARE(answer.retryAfterSeconds, retrySeconds);
        QVERIFY2(answer.reason.contains(reason), qPrintable(answer.reason));
        QCOMPARE(answer.object.isEmpty(), outcome != RdapAnswer::Outcome::Record);
    }

    // An RFC 850 date's two-digit year is the one nearest to now (no more than 50 years ahead),
    // whichever century that is.
    void retryAfterTwoDigitYear_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<int>("seconds");
        const auto at = [](int year, int month, int day, int hour, int minute, int second) {
            return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
        };
        QTest::newRow("same year")
            << at(2026, 12, 7, 12, 0, 0) << QByteArray("Monday, 07-Dec-26 12:00:30 GMT") << 30;
        QTest::newRow("next year, next decade")
            << at(2029, 12, 31, 23, 59, 50) << QByteArray("Tuesday, 01-Jan-30 00:00:10 GMT") << 20;
        QTest::newRow("into the next century")
            << at(2099, 12, 31, 23, 59, 50) << QByteArray("Friday, 01-Jan-00 00:00:05 GMT") << 15;
        QTest::newRow("year 70 after 2069")
            << at(2069, 12, 31, 23, 59, 0) << QByteArray("Wednesday, 01-Jan-70 00:00:00 GMT") << 60;
        QTest::newRow("in the 1990s")
            << at(1999, 12, 31, 23, 59, 0) << QByteArray("Friday, 31-Dec-99 23:59:45 GMT") << 45;
        QTest::newRow("more than 50 years ahead is past")
            << at(2026, 12, 7, 12, 0, 0) << QByteArray("Sunday, 07-Dec-77 12:00:00 GMT") << 0;
    }

    void retryAfterTwoDigitYear()
    {
        QFETCH(QDateTime, now);
        QFETCH(QByteArray, retryAfter);
        QFETCH(int, seconds);
        QCOMPARE(RetryAfterSeconds(retryAfter, now), seconds);
    }

    void registrarLink_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<bool>("refusedByRules");
        QTest::addColumn<QString>("followed");
        QTest::newRow("https") << u"https://rdap.registrar.test/domain/x.com"_s << false
                               << u"https://rdap.registrar.test/domain/x.com"_s;
        QTest::newRow("plain http elsewhere")
            << u"http://rdap.registrar.test/domain/x.com"_s << false << QString();
        QTest::newRow("plain http to loopback") << u"http://127.0.0.1:8080/domain/x.com"_s << false
                                                << u"http://127.0.0.1:8080/domain/x.com"_s;
        QTest::newRow("plain http to IPv6 loopback")
            << u"http://[::1]/domain/x.com"_s << false << u"http://[::1]/domain/x.com"_s;
        QTest::newRow("another scheme") << u"ftp://rdap.registrar.test/x"_s << false << QString();
        QTest::newRow("refused by the address rules")
            << u"https://10.0.0.8/domain/x.com"_s << true << QString();
        QTest::newRow("the answer's own URL")
            << u"https://registry.test/self"_s << false << QString();
    }

    void registrarLink()
    {
        QFETCH(QString, href);
        QFETCH(bool, refusedByRules);
        QFETCH(QString, followed);
        const QByteArray json =
            "{\"objectClassName\": \"domain\", \"links\": ["
            "{\"rel\": \"self\", \"href\": \"https://registry.test/self\", \"type\": "
            "\"application/rdap+json\"},"
            "{\"rel\": \"related\", \"href\": \"https://registrar.test/page\", \"type\": "
            "\"text/html\"},"
            "{\"rel\": \"related\", \"type\": \"application/rdap+json\", \"href\": \"" +
            href.toUtf8() + "\"}]}";
        const QJsonObject domain = QJsonDocument::fromJson(json).object();
        QVERIFY(!domain.isEmpty());
        const QUrl link =
            RdapRegistrarLink(domain, [refusedByRules](const QUrl &) { return !refusedByRules; });
        QCOMPARE(link.toString(), followed);
    }

    void queryUrls_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("expected");
        const QString base = u"https://rdap.test/registry"_s;
        QTest::newRow("domain, base without '/'")
            << RdapDomainUrl(base, u"Example.COM."_s)
            << u"https://rdap.test/registry/domain/example.com"_s;
        QTest::newRow("A-label domain")
            << RdapDomainUrl(u"https://rdap.test/"_s, u"xn--bcher-kva.example"_s)
            << u"https://rdap.test/domain/xn--bcher-kva.example"_s;
        QTest::newRow("not ASCII") << RdapDomainUrl(base, u"bücher.example"_s) << QString();
        QTest::newRow("empty label") << RdapDomainUrl(base, u"a..example"_s) << QString();
        QTest::newRow("path characters") << RdapDomainUrl(base, u"a/../b.example"_s) << QString();
        QTest::newRow("IPv4 address") << RdapAddressUrl(base, IpAddress::fromString(u"192.0.2.1"_s))
                                      << u"https://rdap.test/registry/ip/192.0.2.1"_s;
        QTest::newRow("IPv4 network, host bits cleared")
            << RdapAddressUrl(base, IpAddress::fromString(u"192.0.2.77"_s), 24)
            << u"https://rdap.test/registry/ip/192.0.2.0/24"_s;
        QTest::newRow("IPv6 network")
            << RdapAddressUrl(base, IpAddress::fromString(u"2001:DB8::1"_s), 32)
            << u"https://rdap.test/registry/ip/2001:db8::/32"_s;
        QTest::newRow("prefix too long")
            << RdapAddressUrl(base, IpAddress::fromString(u"192.0.2.1"_s), 33) << QString();
        QTest::newRow("AS number") << RdapAutnumUrl(base, 4200000000u)
                                   << u"https://rdap.test/registry/autnum/4200000000"_s;
        QTest::newRow("base not http") << RdapAutnumUrl(u"file:///etc/"_s, 1) << QString();
    }

    void queryUrls()
    {
        QFETCH(QUrl, url);
        QFETCH(QString, expected);
        QCOMPARE(url.toString(), expected);
    }
};

QUORVANE_REGISTER_TEST(TestRdapAnswer)
#include "tst_rdapanswer.moc"
