#include "fixtures.h"
#include "rdap/rdapbootstrap.h"
#include "rdap/rdapbootstrapstore.h"
#include "rdap/rdapfetch.h"
#include "testregistry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// A bootstrap file of the given "services" array.
QByteArray bootstrapFile(const char *services)
{
    return QByteArray("{\"version\":\"1.0\",\"publication\":\"2026-11-30T18:00:01Z\","
                      "\"services\":") +
           services + '}';
}

const QByteArray DnsFile = fixture("rdap/bootstrap_dns.json");
const QByteArray Ipv4File = fixture("rdap/bootstrap_ipv4.json");
const QByteArray Ipv6File = fixture("rdap/bootstrap_ipv6.json");
const QByteArray AsnFile = fixture("rdap/bootstrap_asn.json");

RdapBootstrap loaded()
{
    RdapBootstrap bootstrap;
    const std::pair<RdapRegistry, QByteArray> files[] = {{RdapRegistry::Dns, DnsFile},
                                                         {RdapRegistry::Ipv4, Ipv4File},
                                                         {RdapRegistry::Ipv6, Ipv6File},
                                                         {RdapRegistry::Asn, AsnFile}};
    for (const auto &[registry, json] : files) {
        QString reason;
        if (!bootstrap.load(registry, json, &reason))
            qFatal("test bootstrap file rejected: %s", qPrintable(reason));
    }
    return bootstrap;
}

// Answers each URL with the body given for it, or a failure, later on the event loop.
class FakeFetch : public RdapFetch
{
public:
    QHash<QString, QByteArray> bodies;
    QStringList asked;
    bool hang = false; // never answer
    void fetch(const QUrl &url, Done done, bool = false) override
    {
        asked << url.toString();
        const QString key = url.toString();
        if (hang)
            return;
        QTimer::singleShot(0, [this, key, done] {
            RdapFetchResult result;
            result.ok = bodies.contains(key);
            result.body = bodies.value(key);
            if (!result.ok)
                result.failure = u"connection refused"_s;
            done(result);
        });
    }
};

void writeFile(const QString &path, const QByteArray &bytes, const QDateTime &modified)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

} // namespace

class TestRdapBootstrap : public QObject
{
    Q_OBJECT

private slots:
    void domains_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("services");
        QTest::newRow("label under a TLD")
            << u"foo.com"_s << QStringList{u"https://registry.test/com/"_s};
        QTest::newRow("longest suffix wins")
            << u"www.example.com"_s << QStringList{u"https://sub.test/rdap/"_s};
        QTest::newRow("the entry itself")
            << u"example.com"_s << QStringList{u"https://sub.test/rdap/"_s};
        QTest::newRow("letter case and final dot")
            << u"FOO.Net."_s << QStringList{u"https://registry.test/com/"_s};
        QTest::newRow("A-label TLD, https first")
            << u"xn--d1acufc.xn--p1ai"_s
            << QStringList{u"https://rf.test/"_s, u"http://rf.test/"_s};
        QTest::newRow("a suffix is whole labels") << u"foo.xcom"_s << QStringList();
        QTest::newRow("unknown TLD") << u"foo.org"_s << QStringList();
        QTest::newRow("not ASCII") << u"bücher.com"_s << QStringList();
    }

    void domains()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, services);
        QCOMPARE(loaded().domainServices(name), services);
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("service");
        QTest::newRow("v4 in the narrow block") << u"10.1.2.3"_s << -1 << u"https://narrow.test/"_s;
        QTest::newRow("v4 in the wide block only")
            << u"10.2.0.1"_s << -1 << u"https://wide.test/"_s;
        QTest::newRow("v4 network inside narrow")
            << u"10.1.128.0"_s << 17 << u"https://narrow.test/"_s;
        QTest::newRow("v4 network wider than narrow")
            << u"10.0.0.0"_s << 8 << u"https://wide.test/"_s;
        QTest::newRow("v4 network wider than any") << u"10.0.0.0"_s << 7 << QString();
        QTest::newRow("v4 outside") << u"11.0.0.1"_s << -1 << QString();
        QTest::newRow("v6 narrow") << u"2001:db8:1::5"_s << -1 << u"https://narrow6.test/"_s;
        QTest::newRow("v6 wide") << u"2001:db8:ffff::1"_s << -1 << u"https://wide6.test/"_s;
        QTest::newRow("v6 network") << u"2001:db8:1::"_s << 48 << u"https://narrow6.test/"_s;
        QTest::newRow("v6 outside") << u"2001:db9::1"_s << -1 << QString();
        QTest::newRow("prefix too long") << u"10.1.2.3"_s << 33 << QString();
    }

    void addresses()
    {
        QFETCH(QString, address);
        QFETCH(int, length);
        QFETCH(QString, service);
        const QStringList found = loaded().addressServices(IpAddress::fromString(address), length);
        QCOMPARE(found.value(0), service);
    }

    void asNumbers_data()
    {
        QTest::addColumn<uint>("number");
        QTest::addColumn<QString>("service");
        QTest::newRow("below all") << 0u << QString();
        QTest::newRow("first of a range") << 1u << u"https://low.test/"_s;
        QTest::newRow("last of a range") << 100u << u"https://low.test/"_s;
        QTest::newRow("gap") << 101u << QString();
        QTest::newRow("single number") << 200u << u"https://single.test/"_s;
        QTest::newRow("second range of a service") << 350u << u"https://low.test/"_s;
        QTest::newRow("above all") << 4000000000u << QString();
    }

    void asNumbers()
    {
        QFETCH(uint, number);
        QFETCH(QString, service);
        QCOMPARE(loaded().asnServices(number).value(0), service);
    }

    void malformed_data()
    {
        QTest::addColumn<int>("registry");
        QTest::addColumn<QByteArray>("json");
        const int dns = int(RdapRegistry::Dns);
        const int v4 = int(RdapRegistry::Ipv4);
        const int asn = int(RdapRegistry::Asn);
        QTest::newRow("not JSON") << dns << QByteArray("<html>oops</html>");
        QTest::newRow("array") << dns << QByteArray("[]");
        QTest::newRow("no services")
            << dns << QByteArray("{\"version\":\"1.0\",\"publication\":\"2026-11-30T18:00:01Z\"}");
        QTest::newRow("no publication")
            << dns << QByteArray("{\"version\":\"1.0\",\"services\":[]}");
        QTest::newRow("service not a pair") << dns << bootstrapFile("[[[\"com\"]]]");
        QTest::newRow("no http URL") << dns << bootstrapFile("[[[\"com\"],[\"ftp://x.test/\"]]]");
        QTest::newRow("name with a space")
            << dns << bootstrapFile("[[[\"c m\"],[\"https://x.test/\"]]]");
        QTest::newRow("v6 prefix in the v4 file")
            << v4 << bootstrapFile("[[[\"2001:db8::/32\"],[\"https://x.test/\"]]]");
        QTest::newRow("unreadable prefix")
            << v4 << bootstrapFile("[[[\"10.0.0.0/40\"],[\"https://x.test/\"]]]");
        QTest::newRow("reversed range")
            << asn << bootstrapFile("[[[\"5-3\"],[\"https://x.test/\"]]]");
        QTest::newRow("overlapping ranges")
            << asn
            << bootstrapFile(
                   "[[[\"1-10\"],[\"https://x.test/\"]],[[\"10-20\"],[\"https://y.test/\"]]]");
    }

    void malformed()
    {
        QFETCH(int, registry);
        QFETCH(QByteArray, json);
        RdapBootstrap bootstrap = loaded();
        QString reason;
        QVERIFY(!bootstrap.load(RdapRegistry(registry), json, &reason));
        QVERIFY(!reason.isEmpty());
        // The previous table is kept.
        QCOMPARE(bootstrap.publication(RdapRegistry(registry)),
                 QDateTime(QDate(2026, 11, 30), QTime(18, 0, 1), Qt::UTC));
        QCOMPARE(bootstrap.domainServices(u"a.com"_s).size(), 1);
        QCOMPARE(bootstrap.addressServices(IpAddress::fromString(u"10.1.0.1"_s)).size(), 1);
        QCOMPARE(bootstrap.asnServices(5).size(), 1);
    }

    // No cache and no network: the built-in snapshot answers.
    void snapshotWithoutCacheOrNetwork()
    {
        QTemporaryDir cache;
        FakeFetch fetch;
        RdapBootstrapStore store(cache.path(), QUrl(u"http://127.0.0.1:9/rdap"_s), &fetch);
        QSignalSpy refreshed(&store, &RdapBootstrapStore::refreshed);
        store.start();
        QVERIFY(refreshed.wait());
        QCOMPARE(fetch.asked.size(), 4);
        QVERIFY(fetch.asked.contains(u"http://127.0.0.1:9/rdap/asn.json"_s));
        for (const RdapRegistry registry : AllRdapRegistries) {
            QCOMPARE(store.origin(registry), RdapBootstrapStore::Origin::Snapshot);
            QVERIFY(store.failure(registry).contains(u"connection refused"_s));
        }
        const RdapBootstrap &bootstrap = store.bootstrap();
        QCOMPARE(bootstrap.domainServices(u"example.com"_s).value(0),
                 u"https://rdap.verisign.com/com/v1/"_s);
        QCOMPARE(bootstrap.addressServices(IpAddress::fromString(u"193.0.6.139"_s)).value(0),
                 u"https://rdap.db.ripe.net/"_s);
        QCOMPARE(bootstrap.addressServices(IpAddress::fromString(u"2800:3f0::1"_s)).value(0),
                 u"https://rdap.lacnic.net/rdap/"_s);
        QCOMPARE(bootstrap.asnServices(3333).value(0), u"https://rdap.db.ripe.net/"_s);
    }

    // Lookups wait while a file has no copy of its own and its fetch is under way: until the
    // fetch ends, or the wait limit passes (said once). A cached copy, however old, is used at
    // once while it is fetched again.
    void usableWhenEveryFileHasACopyOrItsFetchEnded_data()
    {
        QTest::addColumn<bool>("cached");
        QTest::addColumn<bool>("hang");
        QTest::addColumn<bool>("usableAtStart");
        QTest::addColumn<QString>("notice");
        QTest::newRow("no cache, fetch answers") << false << false << false << "";
        QTest::newRow("stale cache, fetch under way") << true << true << true << "";
        QTest::newRow("no cache, fetch never ends")
            << false << true << false << "did not arrive within 0.2 s";
    }
    void usableWhenEveryFileHasACopyOrItsFetchEnded()
    {
        QFETCH(bool, cached);
        QFETCH(bool, hang);
        QFETCH(bool, usableAtStart);
        QFETCH(QString, notice);
        QTemporaryDir cache;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (cached) {
            writeFile(cache.filePath(u"dns.json"_s), DnsFile, now.addDays(-3));
            writeFile(cache.filePath(u"ipv4.json"_s), Ipv4File, now.addDays(-3));
            writeFile(cache.filePath(u"ipv6.json"_s), Ipv6File, now.addDays(-3));
            writeFile(cache.filePath(u"asn.json"_s), AsnFile, now.addDays(-3));
        }
        FakeFetch fetch;
        fetch.hang = hang;
        fetch.bodies[u"https://boot.test/dns.json"_s] = DnsFile;
        fetch.bodies[u"https://boot.test/ipv4.json"_s] = Ipv4File;
        fetch.bodies[u"https://boot.test/ipv6.json"_s] = Ipv6File;
        fetch.bodies[u"https://boot.test/asn.json"_s] = AsnFile;
        RdapBootstrapStore store(cache.path(), QUrl(u"https://boot.test/"_s), &fetch);
        store.setWaitLimitMs(200);
        QSignalSpy notices(&store, &RdapBootstrapStore::notice);
        QElapsedTimer clock;
        clock.start();
        store.start(now);
        QCOMPARE(fetch.asked.size(), 4);
        QCOMPARE(store.isUsable(), usableAtStart);
        bool went = false;
        QObject context;
        store.whenUsable(&context, [&] { went = true; });
        QVERIFY(!went); // always later, from the event loop
        QTRY_VERIFY_WITH_TIMEOUT(went, 5000);
        QVERIFY(store.isUsable());
        if (hang && !cached)
            QVERIFY(clock.elapsed() >= 190);
        QCOMPARE(notices.size(), notice.isEmpty() ? 0 : 1);
        if (!notice.isEmpty())
            QVERIFY2(notices[0][0].toString().contains(notice),
                     qPrintable(notices[0][0].toString()));
    }

    // A fresh cached file is used as it is; a stale one is fetched again and replaced, but only
    // by a file that reads as a bootstrap file.
    void cacheAge()
    {
        QTemporaryDir cache;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        writeFile(cache.filePath(u"dns.json"_s), DnsFile, now.addSecs(-3600));
        writeFile(cache.filePath(u"ipv4.json"_s), Ipv4File, now.addDays(-2));
        writeFile(cache.filePath(u"ipv6.json"_s), Ipv6File, now.addDays(-2));
        FakeFetch fetch;
        const QByteArray newer = bootstrapFile("[[[\"10.0.0.0/8\"],[\"https://newer.test/\"]]]");
        fetch.bodies[u"https://boot.test/ipv4.json"_s] = newer;
        fetch.bodies[u"https://boot.test/ipv6.json"_s] = "{broken";
        RdapBootstrapStore store(cache.path(), QUrl(u"https://boot.test/"_s), &fetch);
        QSignalSpy refreshed(&store, &RdapBootstrapStore::refreshed);
        store.start(now);
        QVERIFY(refreshed.wait());
        QVERIFY(!fetch.asked.contains(u"https://boot.test/dns.json"_s));
        QCOMPARE(store.origin(RdapRegistry::Dns), RdapBootstrapStore::Origin::Cache);
        QCOMPARE(store.bootstrap().domainServices(u"x.example.com"_s).value(0),
                 u"https://sub.test/rdap/"_s);

        QCOMPARE(store.origin(RdapRegistry::Ipv4), RdapBootstrapStore::Origin::Network);
        QCOMPARE(store.bootstrap().addressServices(IpAddress::fromString(u"10.1.0.1"_s)).value(0),
                 u"https://newer.test/"_s);
        QFile written(cache.filePath(u"ipv4.json"_s));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), newer);

        QCOMPARE(store.origin(RdapRegistry::Ipv6), RdapBootstrapStore::Origin::Cache);
        QVERIFY(store.failure(RdapRegistry::Ipv6).startsWith(u"ipv6.json: not JSON"_s));
        QFile kept(cache.filePath(u"ipv6.json"_s));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), Ipv6File);
        QCOMPARE(store.origin(RdapRegistry::Asn), RdapBootstrapStore::Origin::Snapshot);
    }
};

QUORVANE_REGISTER_TEST(TestRdapBootstrap)
#include "tst_rdapbootstrap.moc"
