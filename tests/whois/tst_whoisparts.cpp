#include "lookup/query.h"
#include "net/addressrules.h"
#include "net/connectto.h"
#include "testregistry.h"
#include "whois/whoisreferral.h"
#include "whois/whoisservers.h"
#include "whois/whoistext.h"

#include <QTest>

#include <idn2.h>

// The port-43 source's tables and readers, each as a table of cases.
class TestWhoisParts : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QueryKind>("kind");
        QTest::addColumn<QByteArray>("ascii");

        using K = QueryKind;
        QTest::newRow("name") << u"example.com"_qs << K::Domain << QByteArray("example.com");
        QTest::newRow("upper case, trailing dot")
            << u"WWW.Example.COM."_qs << K::Domain << QByteArray("www.example.com");
        QTest::newRow("umlaut") << u"bücher.de"_qs << K::Domain << QByteArray("xn--bcher-kva.de");
        QTest::newRow("umlaut, upper case")
            << u"BÜCHER.DE"_qs << K::Domain << QByteArray("xn--bcher-kva.de");
        QTest::newRow("Japanese") << u"例え.jp"_qs << K::Domain << QByteArray("xn--r8jz45g.jp");
        QTest::newRow("A-label as given")
            << u"xn--r8jz45g.jp"_qs << K::Domain << QByteArray("xn--r8jz45g.jp");
        QTest::newRow("TLD alone") << u"com"_qs << K::Domain << QByteArray("com");
        QTest::newRow("IPv4") << u"8.8.8.8"_qs << K::IPv4 << QByteArray("8.8.8.8");
        QTest::newRow("IPv6") << u"2001:DB8::0:1"_qs << K::IPv6 << QByteArray("2001:db8::1");
        QTest::newRow("v4 network") << u"192.0.2.0/24"_qs << K::Cidr << QByteArray("192.0.2.0/24");
        QTest::newRow("v6 network")
            << u"2001:db8::/32"_qs << K::Cidr << QByteArray("2001:db8::/32");
        QTest::newRow("AS") << u"AS15169"_qs << K::AsNumber << QByteArray("15169");
        QTest::newRow("as, lower case") << u"as15169"_qs << K::AsNumber << QByteArray("15169");

        const QByteArray none;
        QTest::newRow("CR LF and a second query")
            << u"example.com\r\nexample.net"_qs << K::Invalid << none;
        QTest::newRow("space") << u"example.com -B"_qs << K::Invalid << none;
        QTest::newRow("tab") << u"example.com\t"_qs << K::Invalid << none;
        QTest::newRow("NUL") << QString(u"example.com" + QChar(0)) << K::Invalid << none;
        QTest::newRow("a flag") << u"-Bexample.com"_qs << K::Invalid << none;
        QTest::newRow("invisible format character")
            << u"exa\u200Emple.com"_qs << K::Invalid << none;
        QTest::newRow("empty") << QString() << K::Invalid << none;
        QTest::newRow("empty label") << u"example..com"_qs << K::Invalid << none;
        QTest::newRow("underscore") << u"a_b.com"_qs << K::Invalid << none;
        QTest::newRow("short IPv4") << u"1.2.3"_qs << K::Invalid << none;
        QTest::newRow("octet too big") << u"1.2.3.256"_qs << K::Invalid << none;
        QTest::newRow("octal-looking") << u"010.1.1.1"_qs << K::Invalid << none;
        QTest::newRow("prefix too long") << u"10.0.0.0/33"_qs << K::Invalid << none;
        QTest::newRow("AS too big") << u"AS4294967296"_qs << K::Invalid << none;
        QTest::newRow("IPv4 edges") << u"255.0.10.199"_qs << K::IPv4 << QByteArray("255.0.10.199");
        QTest::newRow("five parts") << u"1.2.3.4.5"_qs << K::Invalid << none;
        QTest::newRow("empty part") << u"1..3.4"_qs << K::Invalid << none;
        QTest::newRow("four-digit part") << u"1.2.3.1000"_qs << K::Invalid << none;
        QTest::newRow("prefix with a leading zero") << u"10.0.0.0/08"_qs << K::Invalid << none;
        QTest::newRow("no prefix length") << u"10.0.0.0/"_qs << K::Invalid << none;
        QTest::newRow("AS, long s: a name")
            << u"a\u017F15169"_qs << K::Domain << QByteArray("as15169");
        QTest::newRow("label too long")
            << QString(QString(64, u'a') + u".com") << K::Invalid << none;
    }
    void parse()
    {
        QFETCH(QString, address);
        QFETCH(QueryKind, kind);
        QFETCH(QByteArray, ascii);
        const Query query = parseQuery(address);
        QCOMPARE(query.kind, kind);
        QCOMPARE(query.ascii, ascii);
        QCOMPARE(query.reason.isEmpty(), kind != QueryKind::Invalid);
    }

    // Names of plain ASCII labels skip libidn2: each reads as libidn2 reads it (the same form,
    // or refused), right up to the edges of what counts as plain.
    void plainNamesAsLibidn2_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name :
             {u"example.com"_qs, u"Example.COM"_qs, u"a-b.c-d.example"_qs, u"123.example"_qs,
              u"-a.com"_qs, u"a-.com"_qs, u"ab--cd.com"_qs, u"a--b.com"_qs, u"xn--r8jz45g.jp"_qs,
              u"xn--abc.jp"_qs, u"XN--R8JZ45G.JP"_qs, u"a.b.c.d.e.f"_qs, u"com"_qs,
              QString(QString(63, u'a') + u".com"), QString(QString(64, u'a') + u".com"),
              u"a_b.com"_qs, u"a b.com"_qs, u"bücher.de"_qs})
            QTest::newRow(qPrintable(name.left(20))) << name;
    }
    void plainNamesAsLibidn2()
    {
        QFETCH(QString, name);
        char *ascii = nullptr;
        const int rc = idn2_lookup_u8(reinterpret_cast<const uint8_t *>(name.toUtf8().constData()),
                                      reinterpret_cast<uint8_t **>(&ascii),
                                      IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
        const QByteArray expected = rc == IDN2_OK ? QByteArray(ascii).toLower() : QByteArray();
        idn2_free(ascii);
        const Query query = parseQuery(name);
        if (rc != IDN2_OK)
            QCOMPARE(query.kind, QueryKind::Invalid);
        else if (query.kind == QueryKind::Domain)
            QCOMPARE(query.ascii, expected);
        else
            QVERIFY2(!query.reason.isEmpty(), "refused for a reason of its own");
    }

    void queryForms_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("verisign") << u"whois.verisign-grs.com"_qs << u"Example.com"_qs
                                  << QByteArray("domain example.com");
        QTest::newRow("denic") << u"whois.denic.de"_qs << u"bücher.de"_qs
                               << QByteArray("-T dn,ace xn--bcher-kva.de");
        QTest::newRow("jprs") << u"whois.jprs.jp"_qs << u"例え.jp"_qs
                              << QByteArray("xn--r8jz45g.jp/e");
        QTest::newRow("arin address")
            << u"whois.arin.net"_qs << u"8.8.8.8"_qs << QByteArray("n + 8.8.8.8");
        QTest::newRow("arin network")
            << u"WHOIS.ARIN.NET"_qs << u"8.8.8.0/24"_qs << QByteArray("n + 8.8.8.0");
        QTest::newRow("arin AS") << u"whois.arin.net"_qs << u"AS15169"_qs
                                 << QByteArray("a + 15169");
        QTest::newRow("ripe AS") << u"whois.ripe.net"_qs << u"as3333"_qs << QByteArray("AS3333");
        QTest::newRow("ripe network")
            << u"whois.ripe.net"_qs << u"193.0.0.0/21"_qs << QByteArray("193.0.0.0/21");
        QTest::newRow("unknown server")
            << u"whois.nic.example"_qs << u"Name.Example"_qs << QByteArray("name.example");
    }
    void queryForms()
    {
        QFETCH(QString, server);
        QFETCH(QString, address);
        QFETCH(QByteArray, line);
        QCOMPARE(WhoisServers::queryFor(server, parseQuery(address)), line);
    }

    void referrals_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("rwhois");

        QTest::newRow("IANA refer")
            << u"whois.iana.org"_qs
            << u"% IANA WHOIS server\n\nrefer:        whois.nic.example\n\ndomain:       "
               "EXAMPLE\nwhois:        whois.nic.example\n"_qs
            << u"whois.nic.example"_qs << QString();
        QTest::newRow("thin registry")
            << u"whois.verisign-grs.com"_qs
            << u"   Domain Name: SAMPLE.COM\r\n   Registrar WHOIS Server: Whois.Registrar.Example."
               "\r\n   Registrar URL: http://registrar.example\r\n"_qs
            << u"whois.registrar.example"_qs << QString();
        QTest::newRow("web address is no server")
            << u"whois.verisign-grs.com"_qs
            << u"Registrar WHOIS Server: https://registrar.example/whois\n"_qs << QString()
            << QString();
        QTest::newRow("ARIN whois:// with port")
            << u"whois.arin.net"_qs
            << u"NetRange: 198.51.0.0 - 198.51.255.255\nReferralServer:  whois://whois.isp.example:4321\n"_qs
            << u"whois.isp.example:4321"_qs << QString();
        QTest::newRow("ARIN rwhois, recorded only")
            << u"whois.arin.net"_qs << u"ReferralServer:  rwhois://rwhois.isp.example:4321/\n"_qs
            << QString() << u"rwhois://rwhois.isp.example:4321/"_qs;
        QTest::newRow("label in capitals, spaces before the colon")
            << u"whois.iana.org"_qs << u"  REFER \t:  whois.nic.example  \n"_qs
            << u"whois.nic.example"_qs << QString();
        QTest::newRow("the most telling label wins over an earlier line")
            << u"whois.iana.org"_qs << u"whois: whois.b.example\nrefer: whois.a.example\n"_qs
            << u"whois.a.example"_qs << QString();
        QTest::newRow("a label's unusable value, then its next line")
            << u"whois.verisign-grs.com"_qs
            << u"Registrar WHOIS Server: https://r.example/whois\nRegistrar WHOIS Server:\n"
               "Registrar WHOIS Server: whois.r.example\n"_qs
            << u"whois.r.example"_qs << QString();
        QTest::newRow("a letter beyond ASCII that folds to one")
            << u"whois.verisign-grs.com"_qs << u"Whoi\u017F Server: whois.s.example\n"_qs
            << u"whois.s.example"_qs << QString();
        QTest::newRow("a space beyond ASCII before the colon")
            << u"whois.iana.org"_qs << u"refer\u00A0: whois.n.example\n"_qs << u"whois.n.example"_qs
            << QString();
        QTest::newRow("a label longer than the name")
            << u"whois.iana.org"_qs << u"referral: whois.x.example\nwhois : whois.y.example\n"_qs
            << u"whois.y.example"_qs << QString();
        QTest::newRow("a bare host takes no port")
            << u"whois.iana.org"_qs << u"refer: whois.nic.example:4321\n"_qs << QString()
            << QString();
        QTest::newRow("ARIN record held by RIPE")
            << u"whois.arin.net"_qs
            << u"NetRange:       193.0.0.0 - 193.255.255.255\nNetName:        RIPE-CIDR-BLOCK\n"
               "OrgName:        RIPE Network Coordination Centre\nOrgId:          RIPE\n"_qs
            << u"whois.ripe.net"_qs << QString();
        QTest::newRow("ARIN record held by APNIC, by its name alone")
            << u"whois.arin.net"_qs
            << u"NetRange:       1.0.0.0 - 1.255.255.255\n"
               "OrgName:        Asia Pacific Network Information Centre\n"_qs
            << u"whois.apnic.net"_qs << QString();
        QTest::newRow("a registry's name inside a word")
            << u"whois.ripe.net"_qs << u"remarks: transferred to XAFRINIC-1\n"_qs << QString()
            << QString();
        QTest::newRow("transferred")
            << u"whois.apnic.net"_qs
            << u"inetnum: 203.0.113.0 - 203.0.113.255\nremarks: This network has been "
               "transferred to AFRINIC\n"_qs
            << u"whois.afrinic.net"_qs << QString();
        QTest::newRow("not allocated, host named")
            << u"whois.ripe.net"_qs
            << u"netname: NON-RIPE-NCC-MANAGED-ADDRESS-BLOCK\nremarks: query whois.lacnic.net\n"_qs
            << u"whois.lacnic.net"_qs << QString();
        QTest::newRow("hand-off phrases only from an RIR")
            << u"whois.registrar.example"_qs << u"remarks: transferred to whois.ripe.net\n"_qs
            << QString() << QString();
        // The host named must be a host name of two labels or more, or an IPv6 address.
        for (const auto &[host, valid] : std::initializer_list<std::pair<QString, bool>>{
                 {u"whois.nic.x-1"_qs, true},
                 {u"whois"_qs, false},
                 {u"whois.-nic.example"_qs, false},
                 {u"whois.nic-.example"_qs, false},
                 {u"whois..example"_qs, false},
                 {u"who_is.example"_qs, false},
                 {QString(63, u'a') + u".example"_qs, true},
                 {QString(64, u'a') + u".example"_qs, false},
             })
            QTest::newRow(qPrintable(u"refer: "_qs + host.left(20)))
                << u"whois.iana.org"_qs << u"refer: "_qs + host + u"\n"_qs
                << (valid ? host : QString()) << QString();
        QTest::newRow("nothing") << u"whois.ripe.net"_qs << u"inetnum: 193.0.0.0 - 193.0.7.255\n"_qs
                                 << QString() << QString();
    }
    void referrals()
    {
        QFETCH(QString, asked);
        QFETCH(QString, text);
        QFETCH(QString, next);
        QFETCH(QString, rwhois);
        const WhoisReferral referral = findReferral(text, asked);
        QCOMPARE(referral.next ? referral.next->display() : QString(), next);
        QCOMPARE(referral.rwhois, rwhois);
    }

    // The record text made in one pass is the answer's lines joined by CR LF.
    void recordText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("LF lines") << u"a: 1\nb: 2"_qs;
        QTest::newRow("CR LF lines, empty ones at the end") << u"a: 1\r\n\r\nb: 2\r\n\r\n\n"_qs;
        QTest::newRow("only empty lines") << u"\r\n\n\r\n"_qs;
        QTest::newRow("CRs: one dropped before LF, a lone one kept") << u"a\r\r\nb\rc\n\nd\r"_qs;
        QTest::newRow("empty lines first") << u"\n\r\na"_qs;
    }
    void recordText()
    {
        QFETCH(QString, text);
        QCOMPARE(WhoisText::recordText(text), WhoisText::lines(text).join(u"\r\n"_qs));
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-8") << QByteArray("Ort: M\xc3\xbcnchen") << u"Ort: München"_qs;
        QTest::newRow("Latin-1") << QByteArray("Ort: M\xfcnchen") << u"Ort: München"_qs;
        QTest::newRow("mixed is Latin-1")
            << QByteArray("\xc3\xbc \xfc") << QString(u"\u00c3\u00bc \u00fc"_qs);
        // The ASCII opening is widened sixteen bytes at a time, the rest decoded after it.
        const QByteArray ascii = QByteArray("Registrar Name: Example ").repeated(3);
        const QString asciiText = QString::fromLatin1(ascii);
        QTest::newRow("ASCII only") << ascii << asciiText;
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("UTF-8 after ASCII, across a block's end")
            << ascii.left(15) + "\xc3\xbc\xf0\x9f\x98\x80" + ascii
            << asciiText.left(15) + u"\u00fc\U0001F600"_qs + asciiText;
        QTest::newRow("Latin-1 after ASCII is Latin-1 whole")
            << ascii + "\xfc" + ascii << asciiText + u"\u00fc"_qs + asciiText;
        QTest::newRow("cut UTF-8 at the end is Latin-1")
            << ascii + "\xe2\x80" << asciiText + u"\u00e2\u0080"_qs;
    }
    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(WhoisText::decode(bytes), text);
    }

    void connectTo()
    {
        QString error;
        const ConnectToMap map = ConnectToMap::parse(
            u"whois.iana.org:43:127.0.0.1:4343, :43:[::1]:, bad entry,[2001:db8::1]::localhost:99"_qs,
            &error);
        QVERIFY(error.contains(u"bad entry"));
        // Only an entry that names the host makes it the user's choice.
        const auto check = [&](const QString &host, quint16 port, const QString &toHost,
                               quint16 toPort, bool mapped, bool hostNamed) {
            const ConnectToMap::Target target = map.resolve(host, port);
            QCOMPARE(target.host, toHost);
            QCOMPARE(target.port, toPort);
            QCOMPARE(target.mapped, mapped);
            QCOMPARE(target.hostNamed, hostNamed);
        };
        check(u"WHOIS.IANA.ORG"_qs, 43, u"127.0.0.1"_qs, 4343, true, true);
        check(u"whois.ripe.net"_qs, 43, u"::1"_qs, 43, true, false); // any host on port 43
        check(u"whois.ripe.net"_qs, 4321, u"whois.ripe.net"_qs, 4321, false, false);
        check(u"2001:db8::1"_qs, 7, u"localhost"_qs, 99, true, true); // any port
        QCOMPARE(map.curlEntries(),
                 (QList<QByteArray>{"whois.iana.org:43:127.0.0.1:4343",
                                    ":43:[::1]:", "[2001:db8::1]::localhost:99"}));
    }

    void addressRules_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("nonPublic");
        for (const char *a :
             {"10.0.0.1", "172.16.5.4", "192.168.1.1", "127.0.0.1", "169.254.1.1", "100.64.0.1",
              "100.127.255.254", "224.0.0.1", "0.0.0.0", "::", "::1", "fd00::1", "fc00::1",
              "fe80::1", "ff02::1", "::ffff:10.0.0.1", "::ffff:127.0.0.1",
              // IPv6 forms that carry an IPv4 address: judged by it
              "::127.0.0.1", "::10.1.2.3", "::ffff:0:192.168.0.1", "64:ff9b::7f00:1",
              "64:ff9b::169.254.169.254", "2002:a00:1::1", "2002:c0a8:101:5::1",
              "2001:0:4136:e378:8000:63bf:80ff:fffe", "64:ff9b:1::8.8.8.8"})
            QTest::newRow(a) << QString::fromLatin1(a) << true;
        for (const char *a :
             {"8.8.8.8", "100.128.0.1", "172.32.0.1", "193.0.6.139", "2001:4860:4860::8888",
              "::ffff:8.8.8.8", "::8.8.4.4", "64:ff9b::808:808", "2002:808:808::1",
              "2001:0:4136:e378:8000:63bf:f7f7:f7f7"})
            QTest::newRow(a) << QString::fromLatin1(a) << false;
    }
    void addressRules()
    {
        QFETCH(QString, address);
        QFETCH(bool, nonPublic);
        QCOMPARE(AddressRules::isNonPublic(IpAddress::fromString(address)), nonPublic);
    }
};

QUORVANE_REGISTER_TEST(TestWhoisParts)
#include "tst_whoisparts.moc"
