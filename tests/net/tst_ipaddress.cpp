#include "net/hostresolver.h"
#include "net/ipaddress.h"
#include "testregistry.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <optional>

using namespace Qt::StringLiterals;

// Addresses as text both ways, and the system's name look-ups.
class IpAddressTests : public QObject
{
    Q_OBJECT

private slots:
    void reading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written"); // empty: not an address

        QTest::newRow("dotted") << u"192.0.2.1"_s << u"192.0.2.1"_s;
        QTest::newRow("spaces around") << u" 192.0.2.1\t"_s << u"192.0.2.1"_s;
        QTest::newRow("two parts") << u"127.1"_s << u"127.0.0.1"_s;
        QTest::newRow("three parts, 16-bit tail") << u"10.1.0x102"_s << u"10.1.1.2"_s;
        QTest::newRow("one number") << u"3221225985"_s << u"192.0.2.1"_s;
        QTest::newRow("octal and hex parts") << u"0177.0x0.0.01"_s << u"127.0.0.1"_s;
        QTest::newRow("8 is no octal digit") << u"08.1.1.1"_s << QString();
        QTest::newRow("part over 255") << u"256.1.1.1"_s << QString();
        QTest::newRow("tail over 16 bits") << u"1.2.65536"_s << QString();
        QTest::newRow("number over 32 bits") << u"4294967296"_s << QString();
        QTest::newRow("five parts") << u"1.2.3.4.5"_s << QString();
        QTest::newRow("trailing dot") << u"1.2.3.4."_s << QString();
        QTest::newRow("empty part") << u"1..2.3"_s << QString();
        QTest::newRow("space inside") << u"1. 2.3.4"_s << QString();
        QTest::newRow("not ASCII") << u"1.2.3.\u0664"_s << QString();
        QTest::newRow("IPv6, upper case") << u"2001:DB8::A"_s << u"2001:db8::a"_s;
        QTest::newRow("IPv6, all groups") << u"1:0:0:2:0:0:0:3"_s << u"1:0:0:2::3"_s;
        QTest::newRow("IPv6, first of two equal runs") << u"1:0:0:2:3:0:0:4"_s << u"1::2:3:0:0:4"_s;
        QTest::newRow("IPv6, one zero group stays") << u"1:2:3:4:5:6:0:8"_s << u"1:2:3:4:5:6:0:8"_s;
        QTest::newRow("IPv6, run at the end") << u"1::"_s << u"1::"_s;
        QTest::newRow("IPv6, :: for one group") << u"1:2:3::5:6:7:8"_s << u"1:2:3:0:5:6:7:8"_s;
        QTest::newRow("unspecified") << u"::"_s << u"::"_s;
        QTest::newRow("loopback") << u"0:0:0:0:0:0:0:1"_s << u"::1"_s;
        QTest::newRow("IPv4-mapped") << u"::FFFF:c000:201"_s << u"::ffff:192.0.2.1"_s;
        QTest::newRow("IPv4-compatible") << u"::192.0.2.1"_s << u"::192.0.2.1"_s;
        QTest::newRow("IPv4 tail after six groups")
            << u"1:2:3:4:5:6:1.2.3.4"_s << u"1:2:3:4:5:6:102:304"_s;
        QTest::newRow("IPv4 tail too early") << u"1:2:3:4:5:1.2.3.4"_s << QString();
        QTest::newRow("IPv4 tail, leading zero") << u"::ffff:01.2.3.4"_s << QString();
        QTest::newRow("IPv4 tail, three parts") << u"::ffff:1.2.3"_s << QString();
        QTest::newRow("two ::") << u"1::2::3"_s << QString();
        QTest::newRow(":: and eight groups") << u"1:2:3:4::5:6:7:8"_s << QString();
        QTest::newRow("nine groups") << u"1:2:3:4:5:6:7:8:9"_s << QString();
        QTest::newRow("seven groups") << u"1:2:3:4:5:6:7"_s << QString();
        QTest::newRow("five hex digits") << u"12345::"_s << QString();
        QTest::newRow("single colon first") << u":1::"_s << QString();
        QTest::newRow("single colon last") << u"::1:"_s << QString();
        QTest::newRow("zone") << u"fe80::1%eth0"_s << QString();
        QTest::newRow("brackets") << u"[::1]"_s << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void reading()
    {
        QFETCH(QString, text);
        QFETCH(QString, written);
        const IpAddress address = IpAddress::fromString(text);
        QCOMPARE(address.isNull() ? QString() : address.toString(), written);
        if (!written.isEmpty())
            QCOMPARE(IpAddress::fromString(written), address);
    }

    // The text is the form stored with every answer as the address asked, written the same
    // way as before (by Qt Network): compared with it on many addresses heavy in zero groups.
    void writtenAsBefore()
    {
        QRandomGenerator random(20261208);
        for (int i = 0; i < 200000; ++i) {
            IpAddress::V6Bytes bytes{};
            const quint32 shape = random.generate();
            for (int k = 0; k < 8; ++k) {
                const quint32 r = random.generate();
                const quint16 group = (r & 3) ? 0 : quint16(r >> ((r & 4) ? 24 : 16));
                bytes[size_t(2 * k)] = quint8(group >> 8);
                bytes[size_t(2 * k + 1)] = quint8(group);
            }
            if (shape % 5 == 0) { // the forms with an IPv4 tail
                std::fill_n(bytes.begin(), 10, quint8(0));
                bytes[10] = bytes[11] = (shape & 8) ? 0xff : 0;
            }
            Q_IPV6ADDR qt;
            std::copy(bytes.begin(), bytes.end(), qt.c);
            const IpAddress ours(bytes);
            const QHostAddress theirs(qt);
            QCOMPARE(ours.toString(), theirs.toString());
            bool isV4 = false;
            const quint32 v4 = theirs.toIPv4Address(&isV4);
            QCOMPARE(ours.mappedV4(), isV4 ? std::optional<quint32>(v4) : std::nullopt);
            QCOMPARE(ours.isLoopback(), theirs.isLoopback());
        }
    }

    void subnets_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("network"); // empty: not a network

        QTest::newRow("host bits cleared") << u"192.0.2.77/24"_s << u"192.0.2.0/24"_s;
        QTest::newRow("length 0") << u"192.0.2.77/0"_s << u"0.0.0.0/0"_s;
        QTest::newRow("length 32") << u"192.0.2.77/32"_s << u"192.0.2.77/32"_s;
        QTest::newRow("shortened") << u"192.168/16"_s << u"192.168.0.0/16"_s;
        QTest::newRow("parts give the length") << u"10."_s << u"10.0.0.0/8"_s;
        QTest::newRow("netmask") << u"192.168.1.1/255.255.0.0"_s << u"192.168.0.0/16"_s;
        QTest::newRow("netmask with a gap") << u"1.2.3.4/255.0.255.0"_s << QString();
        QTest::newRow("IPv6") << u"2001:DB8::1/32"_s << u"2001:db8::/32"_s;
        QTest::newRow("IPv6, odd length") << u"2001:200::/23"_s << u"2001:200::/23"_s;
        QTest::newRow("IPv4 too long") << u"1.2.3.4/33"_s << QString();
        QTest::newRow("IPv6 too long") << u"::/129"_s << QString();
        QTest::newRow("no length") << u"1.2.3.4/"_s << QString();
        QTest::newRow("no network") << u"/8"_s << QString();
        QTest::newRow("five parts") << u"1.2.3.4.5/8"_s << QString();
    }
    void subnets()
    {
        QFETCH(QString, text);
        QFETCH(QString, network);
        const auto [address, length] = IpAddress::parseSubnet(text);
        QCOMPARE(address.isNull() ? QString() : address.toString() + u'/' + QString::number(length),
                 network);
    }

    void inSubnet()
    {
        const auto [net, length] = IpAddress::parseSubnet(u"2001:db8:8000::/33");
        QVERIFY(IpAddress::fromString(u"2001:db8:ffff::1").isInSubnet(net, length));
        QVERIFY(!IpAddress::fromString(u"2001:db8:7fff::1").isInSubnet(net, length));
        QVERIFY(
            IpAddress::fromString(u"10.1.2.3").isInSubnet(IpAddress::fromString(u"10.0.0.0"), 8));
        // The families never mix, not even for an IPv4-mapped address.
        QVERIFY(!IpAddress::fromString(u"::ffff:10.1.2.3")
                     .isInSubnet(IpAddress::fromString(u"10.0.0.0"), 8));
    }

    // The answer comes later than the call, on the caller's thread; an aborted look-up never
    // answers; look-ups of one name at once are each answered.
    void resolver()
    {
        HostResolver &resolver = HostResolver::system();
        QObject context;
        int answered = 0;
        QList<IpAddress> found;
        const auto collect = [&](const QList<IpAddress> &addresses, const QString &) {
            QCOMPARE(QThread::currentThread(), context.thread());
            found = addresses;
            ++answered;
        };
        resolver.lookUp(u"localhost"_s, &context, collect);
        const quint64 aborted = resolver.lookUp(u"localhost"_s, &context, [&](auto &&, auto &&) {
            QFAIL("an aborted look-up answered");
        });
        resolver.lookUp(u"localhost"_s, &context, collect);
        resolver.abort(aborted);
        QCOMPARE(answered, 0);
        QTRY_COMPARE(answered, 2);
        QVERIFY(!found.isEmpty());
        for (const IpAddress &address : found)
            QVERIFY2(address.isLoopback(), qPrintable(address.toString()));
        // Kept: the next answer is queued at once, still not inside the call.
        resolver.lookUp(u"localhost"_s, &context, collect);
        QCOMPARE(answered, 2);
        QTRY_COMPARE(answered, 3);
    }
};

QUORVANE_REGISTER_TEST(IpAddressTests)
#include "tst_ipaddress.moc"
