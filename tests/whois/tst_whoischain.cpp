#include "testregistry.h"
#include "testwhoisserver.h"
#include "whois/ianacache.h"
#include "whois/whoischain.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using Reply = TestWhoisServer::Reply;

QByteArray ianaTld(const QByteArray &tld, const QByteArray &server)
{
    return "% IANA WHOIS server\n% This query returned 1 object\n\nrefer:        " + server +
           "\n\ndomain:       " + tld.toUpper() +
           "\n\norganisation: Sample Registry Operator\nwhois:        " + server +
           "\nstatus:       ACTIVE\nsource:       IANA\n";
}

QByteArray thinRecord(const QByteArray &name, const QByteArray &registrar)
{
    return "   Domain Name: " + name.toUpper() +
           "\r\n   Registry Domain ID: 2100457_DOMAIN_COM-VRSN\r\n"
           "   Registrar WHOIS Server: " +
           registrar +
           "\r\n   Registrar URL: http://www.registrar.test\r\n"
           "   Creation Date: 2011-03-02T17:45:12Z\r\n   Registrar: Sample Registrar, Inc.\r\n"
           ">>> Last update of whois database: 2024-05-01T08:00:00Z <<<\r\n";
}

// The remote parties, each a server on 127.0.0.1 reached by its public name through the
// connect-to map.
struct World
{
    TestWhoisServer iana{[](const QByteArray &q) -> Reply {
        if (q == "com")
            return {ianaTld(q, "whois.verisign-grs.com")};
        if (q == "shop")
            return {ianaTld(q, "whois.nic.shop")};
        // IANA is the registry of .int: it refers to itself, then answers for the name.
        if (q == "int")
            return {ianaTld(q, "whois.iana.org")};
        if (q == "treaty.int")
            return {"% IANA WHOIS server\n\ndomain:       TREATY.INT\n\norganisation: Sample "
                    "Treaty Organisation\ncreated:      1995-01-01\nsource:       IANA\n"};
        if (q.startsWith("193."))
            return {
                "% IANA WHOIS server\n\nrefer:        whois.arin.net\n\ninetnum:      193.0.0.0 "
                "- 193.255.255.255\norganisation: Administered by ARIN\nstatus:       "
                "LEGACY\n"};
        return {"% IANA WHOIS server\n% This query returned 0 objects.\n"};
    }};
    TestWhoisServer registry{[](const QByteArray &q) -> Reply {
        const QByteArray name = q.mid(q.indexOf(' ') + 1);
        if (name.startsWith("slow"))
            return {thinRecord(name, "whois.slow.test")};
        if (name.startsWith("inner"))
            return {thinRecord(name, "10.0.0.1")};
        if (name.startsWith("reset"))
            return {thinRecord(name, "whois.reset.test")};
        if (name.startsWith("big"))
            return {thinRecord(name, "whois.big.test")};
        if (name.startsWith("free"))
            return {"No match for \"" + name.toUpper() + "\".\r\n"};
        return {thinRecord(name, "whois.registrar.test")};
    }};
    TestWhoisServer registrar{[](const QByteArray &q) -> Reply {
        if (q.startsWith("nomatch"))
            return {"No match for \"" + q.toUpper() + "\".\r\n"};
        // Registrars' own wordings of "no such name", not the registries' usual openings.
        if (q.startsWith("unregistered"))
            return {"This domain is not registered.\r\n"};
        if (q.startsWith("noobject"))
            return {"% Object does not exist\r\n"};
        return {"Domain Name: " + q +
                "\r\nRegistrar WHOIS Server: whois.registrar.test\r\n"
                "Registrant Organization: Sample Holder\r\nRegistrant Country: DE\r\n"};
    }};
    TestWhoisServer slow{[](const QByteArray &) { return Reply{{}, false, true}; }};
    TestWhoisServer reset{[](const QByteArray &) { return Reply{"Domain Name: cut", true}; }};
    TestWhoisServer big{QByteArray(2 << 20, 'x')};
    TestWhoisServer thick{[](const QByteArray &q) -> Reply {
        QByteArray record = "Domain Name: " + q + "\nRegistrar WHOIS Server: whois.nic.shop\n";
        if (q.startsWith("latin"))
            record += "Registrant City: M\xfcnchen\n";
        else
            record += "Registrant City: M\xc3\xbcnchen\n";
        return {record};
    }};
    TestWhoisServer arin{
        QByteArray("NetRange:       193.0.0.0 - 193.255.255.255\nCIDR:           193.0.0.0/8\n"
                   "NetName:        RIPE-CIDR-BLOCK\nNetType:        Allocated to RIPE NCC\n"
                   "OrgName:        RIPE Network Coordination Centre\nOrgId:          RIPE\n")};
    TestWhoisServer ripe{QByteArray("% This is the RIPE Database query service.\n\n"
                                    "inetnum:        193.0.0.0 - 193.0.7.255\n"
                                    "netname:        SAMPLE-NET\ncountry:        NL\n"
                                    "source:         RIPE\n")};
    TestWhoisServer loopA{QByteArray("Domain Name: x\nWhois Server: whois.loop-b.test\n")};
    TestWhoisServer loopB{QByteArray("Domain Name: x\nWhois Server: whois.loop-a.test\n")};

    QTemporaryDir cacheDir;
    std::unique_ptr<IanaCache> cache;
    QObject owner;
    QList<WhoisHop> hops;
    std::unique_ptr<WhoisChain> chain;

    World() { makeChain(); }

    void makeChain()
    {
        const QStringList entries{iana.mapping(u"whois.iana.org"_qs),
                                  registry.mapping(u"whois.verisign-grs.com"_qs),
                                  registrar.mapping(u"whois.registrar.test"_qs),
                                  slow.mapping(u"whois.slow.test"_qs),
                                  reset.mapping(u"whois.reset.test"_qs),
                                  big.mapping(u"whois.big.test"_qs),
                                  thick.mapping(u"whois.nic.shop"_qs),
                                  arin.mapping(u"whois.arin.net"_qs),
                                  ripe.mapping(u"whois.ripe.net"_qs),
                                  loopA.mapping(u"whois.loop-a.test"_qs),
                                  loopB.mapping(u"whois.loop-b.test"_qs)};
        Whois43Limits limits;
        limits.answerTimeoutMs = 400;
        const WhoisChain::Ask direct =
            WhoisChain::directAsk(ConnectToMap::parse(entries.join(u',')), limits, &owner);
        cache = std::make_unique<IanaCache>(cacheDir.path());
        chain = std::make_unique<WhoisChain>(
            [this, direct](const WhoisHop &hop, const WhoisChain::AnswerCallback &done) {
                hops.append(hop);
                direct(hop, done);
            },
            cache.get());
    }

    WhoisChainResult lookup(const QString &address, const WhoisChainOptions &options = {})
    {
        std::optional<WhoisChainResult> result;
        chain->lookup(parseQuery(address), options, [&](const WhoisChainResult &r) { result = r; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
            qFatal("no result");
        return *result;
    }
};

// A chain whose hops are answered from a table, no server involved: each host's answer text
// and the address it was reached on.
struct ScriptedChain
{
    struct Host
    {
        QByteArray text;
        QString peer = u"198.51.100.7"_qs; // public unless the test says otherwise
        bool mapped = false;
    };
    QTemporaryDir cacheDir;
    IanaCache cache{cacheDir.path()};
    QHash<QString, Host> hosts;
    QList<WhoisHop> hops;
    WhoisChain chain{[this](const WhoisHop &hop, const WhoisChain::AnswerCallback &done) {
                         hops.append(hop);
                         const Host host = hosts.value(hop.server.host);
                         Whois43Answer answer;
                         answer.ok = true;
                         answer.server = hop.server.display();
                         answer.bytes = host.text;
                         answer.peerAddress = IpAddress::fromString(host.peer);
                         answer.userMapped = host.mapped;
                         QMetaObject::invokeMethod(
                             &chain, [done, answer] { done(whoisReplyOf(answer)); },
                             Qt::QueuedConnection);
                     },
                     &cache};

    // "a.test" refers to "b.test", and so on: a whole record at each step.
    void referralLine(const QStringList &servers)
    {
        for (qsizetype i = 0; i < servers.size(); ++i) {
            QByteArray text = "Domain Name: sample.test\r\n";
            if (i + 1 < servers.size())
                text += "Registrar WHOIS Server: " + servers[i + 1].toUtf8() + "\r\n";
            hosts[servers[i]].text = text;
        }
    }
    WhoisChainResult lookup(const WhoisChainOptions &options)
    {
        std::optional<WhoisChainResult> result;
        chain.lookup(parseQuery(u"sample.test"_qs), options,
                     [&](const WhoisChainResult &r) { result = r; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 5000))
            qFatal("no result");
        return *result;
    }
};

} // namespace

class TestWhoisChain : public QObject
{
    Q_OBJECT

private slots:
    void chains_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("firstServer");
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("failedServer");
        QTest::addColumn<QString>("textHas");

        const QString iana = u"whois.iana.org"_qs, vrsn = u"whois.verisign-grs.com"_qs;
        QTest::newRow("thin: three hops")
            << u"Sample.com"_qs << QString() << QStringList{iana, vrsn, u"whois.registrar.test"_qs}
            << true << QString() << u"Registrant Organization: Sample Holder"_qs;
        QTest::newRow("thick: two hops, self-reference ends")
            << u"quorvane.shop"_qs << QString() << QStringList{iana, u"whois.nic.shop"_qs} << true
            << QString() << u"Domain Name: quorvane.shop"_qs;
        QTest::newRow("IDN sent as ASCII")
            << u"Bücher.shop"_qs << QString() << QStringList{iana, u"whois.nic.shop"_qs} << true
            << QString() << u"Domain Name: xn--bcher-kva.shop"_qs;
        QTest::newRow("Latin-1 answer")
            << u"latin.shop"_qs << QString() << QStringList{iana, u"whois.nic.shop"_qs} << true
            << QString() << u"Registrant City: München"_qs;
        QTest::newRow("UTF-8 answer")
            << u"utf.shop"_qs << QString() << QStringList{iana, u"whois.nic.shop"_qs} << true
            << QString() << u"Registrant City: München"_qs;
        QTest::newRow("ARIN hands over to RIPE")
            << u"193.0.6.139"_qs << QString()
            << QStringList{iana, u"whois.arin.net"_qs, u"whois.ripe.net"_qs} << true << QString()
            << u"netname:        SAMPLE-NET"_qs;
        QTest::newRow("registrar times out: registry kept")
            << u"slow.com"_qs << QString() << QStringList{iana, vrsn, u"whois.slow.test"_qs} << true
            << u"whois.slow.test"_qs << u"Domain Name: SLOW.COM"_qs;
        QTest::newRow("registrar answer cut by a reset")
            << u"reset.com"_qs << QString() << QStringList{iana, vrsn, u"whois.reset.test"_qs}
            << true << u"whois.reset.test"_qs << u"Domain Name: RESET.COM"_qs;
        QTest::newRow("registrar answer of 2 MiB")
            << u"big.com"_qs << QString() << QStringList{iana, vrsn, u"whois.big.test"_qs} << true
            << u"whois.big.test"_qs << u"Domain Name: BIG.COM"_qs;
        QTest::newRow("registry says no match: its answer is the record")
            << u"free.com"_qs << QString() << QStringList{iana, vrsn} << true << QString()
            << u"No match for \"FREE.COM\""_qs;
        QTest::newRow("registrar says no match")
            << u"nomatch.com"_qs << QString() << QStringList{iana, vrsn, u"whois.registrar.test"_qs}
            << true << u"whois.registrar.test"_qs << u"Domain Name: NOMATCH.COM"_qs;
        QTest::newRow("registrar says it is not registered")
            << u"unregistered.com"_qs << QString()
            << QStringList{iana, vrsn, u"whois.registrar.test"_qs} << true
            << u"whois.registrar.test"_qs << u"Domain Name: UNREGISTERED.COM"_qs;
        QTest::newRow("registrar says the object does not exist")
            << u"noobject.com"_qs << QString()
            << QStringList{iana, vrsn, u"whois.registrar.test"_qs} << true
            << u"whois.registrar.test"_qs << u"Domain Name: NOOBJECT.COM"_qs;
        // Refused before any connection: not among the servers asked.
        QTest::newRow("referral to a private address refused")
            << u"inner.com"_qs << QString() << QStringList{iana, vrsn} << true << u"10.0.0.1"_qs
            << u"Domain Name: INNER.COM"_qs;
        QTest::newRow("loop ends the chain")
            << u"x.test"_qs << u"whois.loop-a.test"_qs
            << QStringList{u"whois.loop-a.test"_qs, u"whois.loop-b.test"_qs} << true << QString()
            << u"whois.loop-a.test"_qs;
        QTest::newRow("IANA's own top-level domain: asked again for the name")
            << u"treaty.int"_qs << QString() << QStringList{iana, iana} << true << QString()
            << u"TREATY.INT"_qs;
        QTest::newRow("IANA knows nothing: its answer stands")
            << u"name.unknown"_qs << QString() << QStringList{iana} << true << QString()
            << u"0 objects"_qs;
    }
    void chains()
    {
        QFETCH(QString, address);
        QFETCH(QString, firstServer);
        QFETCH(QStringList, servers);
        QFETCH(bool, ok);
        QFETCH(QString, failedServer);
        QFETCH(QString, textHas);
        World world;
        WhoisChainOptions options;
        if (!firstServer.isEmpty())
            options.firstServer = WhoisServer{firstServer};
        const WhoisChainResult result = world.lookup(address, options);
        QCOMPARE(result.serversAsked, servers);
        QCOMPARE(result.ok, ok);
        QCOMPARE(result.failedServer, failedServer);
        QCOMPARE(result.failure.has_value(), !failedServer.isEmpty());
        QVERIFY2(result.text.contains(textHas), qPrintable(result.text));
    }

    // At most maxServers servers are asked, IANA counted, however long the referrals go on.
    void serverLimit_data()
    {
        QTest::addColumn<bool>("fromIana");
        QTest::addColumn<int>("maxServers");
        QTest::addColumn<int>("asked");
        QTest::newRow("first server, default four") << false << 0 << 4;
        QTest::newRow("first server, two") << false << 2 << 2;
        QTest::newRow("first server, one") << false << 1 << 1;
        QTest::newRow("IANA and three more") << true << 0 << 4;
    }
    void serverLimit()
    {
        QFETCH(bool, fromIana);
        QFETCH(int, maxServers);
        QFETCH(int, asked);
        ScriptedChain c;
        const QStringList line{u"s1.test"_qs, u"s2.test"_qs, u"s3.test"_qs,
                               u"s4.test"_qs, u"s5.test"_qs, u"s6.test"_qs};
        c.referralLine(line);
        c.hosts[u"whois.iana.org"_qs].text = "refer:        s1.test\n";
        WhoisChainOptions options;
        if (maxServers > 0)
            options.maxServers = maxServers;
        if (!fromIana)
            options.firstServer = WhoisServer{line.first()};
        const WhoisChainResult result = c.lookup(options);
        QVERIFY(result.ok);
        QCOMPARE(result.serversAsked.size(), asked);
        QCOMPARE(c.hops.size(), asked);
        QCOMPARE(result.textServer, result.serversAsked.last());
    }

    // A referral read from an answer may not lead to a non-public address, unless the server
    // that gave it is on one itself (and not there through the connect-to map); the first
    // server is the user's choice.
    void referralToNonPublicAddress_data()
    {
        QTest::addColumn<bool>("fromIana");
        QTest::addColumn<QString>("referrerPeer");
        QTest::addColumn<bool>("referrerMapped");
        QTest::addColumn<QList<bool>>("refused"); // per hop
        QTest::newRow("referrer public")
            << false << u"198.51.100.7"_qs << false << QList<bool>{false, true};
        QTest::newRow("referrer private, unmapped")
            << false << u"10.1.2.3"_qs << false << QList<bool>{false, false};
        QTest::newRow("referrer on loopback, unmapped")
            << false << u"127.0.0.1"_qs << false << QList<bool>{false, false};
        QTest::newRow("referrer private through the map")
            << false << u"127.0.0.1"_qs << true << QList<bool>{false, true};
        QTest::newRow("IANA public")
            << true << u"198.51.100.7"_qs << false << QList<bool>{false, true, true};
        QTest::newRow("IANA private, unmapped")
            << true << u"10.1.2.3"_qs << false << QList<bool>{false, false, true};
    }
    void referralToNonPublicAddress()
    {
        QFETCH(bool, fromIana);
        QFETCH(QString, referrerPeer);
        QFETCH(bool, referrerMapped);
        QFETCH(QList<bool>, refused);
        ScriptedChain c;
        c.referralLine({u"s1.test"_qs, u"s2.test"_qs, u"s3.test"_qs});
        c.hosts[u"whois.iana.org"_qs].text = "refer:        s1.test\n";
        ScriptedChain::Host &referrer = c.hosts[fromIana ? u"whois.iana.org"_qs : u"s1.test"_qs];
        referrer.peer = referrerPeer;
        referrer.mapped = referrerMapped;
        WhoisChainOptions options;
        options.maxServers = refused.size();
        if (!fromIana)
            options.firstServer = WhoisServer{u"s1.test"_qs};
        c.lookup(options);
        QList<bool> seen;
        for (const WhoisHop &hop : std::as_const(c.hops))
            seen << hop.refuseNonPublic;
        QCOMPARE(seen, refused);
    }

    // An answer of nothing but blank lines is no record: after the registry's it leaves that one
    // standing, as the first answer it leaves none.
    void blankAnswer_data()
    {
        QTest::addColumn<bool>("afterRecord");
        QTest::newRow("registrar's") << true;
        QTest::newRow("first server's") << false;
    }
    void blankAnswer()
    {
        QFETCH(bool, afterRecord);
        ScriptedChain c;
        c.referralLine({u"s1.test"_qs, u"s2.test"_qs});
        c.hosts[afterRecord ? u"s2.test"_qs : u"s1.test"_qs].text = " \r\n\r\n";
        WhoisChainOptions options;
        options.firstServer = WhoisServer{u"s1.test"_qs};
        const WhoisChainResult result = c.lookup(options);
        QCOMPARE(result.ok, afterRecord);
        QCOMPARE(result.failedServer, afterRecord ? u"s2.test"_qs : u"s1.test"_qs);
        QVERIFY(result.failure.has_value());
        QCOMPARE(result.failure->detail, u"empty answer"_qs);
        if (afterRecord)
            QCOMPARE(result.textServer, u"s1.test"_qs);
    }

    void queryLinesOnTheWire()
    {
        World world;
        world.lookup(u"Bücher.shop"_qs);
        world.lookup(u"193.0.6.139"_qs);
        world.lookup(u"Sample.com"_qs);
        QCOMPARE(world.thick.queries, QList<QByteArray>{"xn--bcher-kva.shop\r\n"});
        QCOMPARE(world.arin.queries, QList<QByteArray>{"n + 193.0.6.139\r\n"});
        QCOMPARE(world.registry.queries, QList<QByteArray>{"domain sample.com\r\n"});
        QCOMPARE(world.iana.queries, (QList<QByteArray>{"shop\r\n", "193.0.6.139\r\n", "com\r\n"}));
    }

    void unsafeAddressNeverSent_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("CR LF") << u"sample.com\r\nsample.net"_qs;
        QTest::newRow("space") << u"sample.com extra"_qs;
        QTest::newRow("flag") << u"-i mnt-by SAMPLE"_qs;
    }
    void unsafeAddressNeverSent()
    {
        QFETCH(QString, address);
        World world;
        const WhoisChainResult result = world.lookup(address);
        QVERIFY(!result.ok);
        QVERIFY(!result.reason.isEmpty());
        QVERIFY(result.serversAsked.isEmpty());
        QVERIFY(world.hops.isEmpty());
        QVERIFY(world.iana.queries.isEmpty());
    }

    void noReferrals()
    {
        World world;
        WhoisChainOptions options;
        options.followReferrals = false;
        const WhoisChainResult result = world.lookup(u"sample.com"_qs, options);
        QCOMPARE(result.serversAsked,
                 (QStringList{u"whois.iana.org"_qs, u"whois.verisign-grs.com"_qs}));
        QVERIFY(world.registrar.queries.isEmpty());
    }

    void ianaAskedOncePerTld()
    {
        World world;
        int results = 0;
        // Concurrent names wait for the one IANA query under way.
        for (int i = 0; i < 20; ++i)
            world.chain->lookup(parseQuery(u"name%1.com"_qs.arg(i)), {},
                                [&](const WhoisChainResult &r) { results += r.ok ? 1 : 0; });
        QTRY_COMPARE_WITH_TIMEOUT(results, 20, 10000);
        world.lookup(u"193.0.6.139"_qs);
        world.lookup(u"193.200.1.1"_qs); // the same /8 as IANA answered
        QCOMPARE(world.iana.queries, (QList<QByteArray>{"com\r\n", "193.0.6.139\r\n"}));

        // A second run reads IANA's answers back from disk.
        world.makeChain();
        QVERIFY(world.lookup(u"another.com"_qs).ok);
        QVERIFY(world.lookup(u"193.1.1.1"_qs).ok);
        QCOMPARE(world.iana.queries.size(), 2);
    }
};

QUORVANE_REGISTER_TEST(TestWhoisChain)
#include "tst_whoischain.moc"
