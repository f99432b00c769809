#include "facts/iprange.h"
#include "testregistry.h"

#include <QTest>

using namespace Qt::StringLiterals;

class IpRangeTests : public QObject
{
    Q_OBJECT

private slots:
    // A range as "first - last" and the fewest prefixes that cover it exactly.
    void ranges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("range"); // empty: not a range
        QTest::addColumn<QString>("cidr");
        QTest::newRow("one prefix")
            << u"192.0.2.0 - 192.0.2.255"_s << u"192.0.2.0 - 192.0.2.255"_s << u"192.0.2.0/24"_s;
        QTest::newRow("two prefixes")
            << u"192.0.2.0 - 192.0.2.191"_s << u"192.0.2.0 - 192.0.2.191"_s
            << u"192.0.2.0/25, 192.0.2.128/26"_s;
        QTest::newRow("unaligned start") << u"192.0.2.1-192.0.2.7"_s << u"192.0.2.1 - 192.0.2.7"_s
                                         << u"192.0.2.1/32, 192.0.2.2/31, 192.0.2.4/30"_s;
        QTest::newRow("across a byte")
            << u"198.51.100.255 - 198.51.101.0"_s << u"198.51.100.255 - 198.51.101.0"_s
            << u"198.51.100.255/32, 198.51.101.0/32"_s;
        QTest::newRow("one address") << u"203.0.113.9 - 203.0.113.9"_s
                                     << u"203.0.113.9 - 203.0.113.9"_s << u"203.0.113.9/32"_s;
        QTest::newRow("every IPv4 address")
            << u"0.0.0.0 - 255.255.255.255"_s << u"0.0.0.0 - 255.255.255.255"_s << u"0.0.0.0/0"_s;
        QTest::newRow("every IPv6 address")
            << u":: - ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"_s
            << u":: - ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"_s << u"::/0"_s;
        QTest::newRow("IPv6, across the halves")
            << u"2001:db8::ffff:ffff:ffff:ffff - 2001:db8:0:1::"_s
            << u"2001:db8::ffff:ffff:ffff:ffff - 2001:db8:0:1::"_s
            << u"2001:db8::ffff:ffff:ffff:ffff/128, 2001:db8:0:1::/128"_s;
        QTest::newRow("IPv6, three prefixes")
            << u"2001:DB8:: - 2001:db8:2:ffff:ffff:ffff:ffff:ffff"_s
            << u"2001:db8:: - 2001:db8:2:ffff:ffff:ffff:ffff:ffff"_s
            << u"2001:db8::/47, 2001:db8:2::/48"_s;
        QTest::newRow("prefix written")
            << u"200.160/20"_s << u"200.160.0.0 - 200.160.15.255"_s << u"200.160.0.0/20"_s;
        QTest::newRow("last before first") << u"192.0.2.9 - 192.0.2.1"_s << QString() << QString();
        QTest::newRow("two families") << u"192.0.2.0 - 2001:db8::"_s << QString() << QString();
    }

    void ranges()
    {
        QFETCH(QString, text);
        QFETCH(QString, range);
        QFETCH(QString, cidr);
        const std::optional<IpRange> read = ipRangeFromText(text);
        QCOMPARE(ipRangeTextFromText(text), range);
        QCOMPARE(read.has_value(), !range.isEmpty());
        if (!read)
            return;
        QCOMPARE(read->range, range);
        QCOMPARE(read->cidr, cidr);
        const qsizetype dash = text.indexOf(u'-');
        if (dash > 0)
            QCOMPARE(coveringPrefixes(text.left(dash), text.mid(dash + 1)).join(u", "_s), cidr);
    }
};

QUORVANE_REGISTER_TEST(IpRangeTests)
#include "tst_iprange.moc"
