#include "facts/recordfacts.h"
#include "run/savedanswer.h"
#include "testregistry.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Every fact of a result as "key = cell", the empty ones left out.
QStringList factsOf(const LookupResult &result)
{
    QStringList facts;
    for (const FactColumn &column : factColumns()) {
        const QString cell = column.cell(result.facts);
        if (!cell.isEmpty())
            facts << QLatin1String(column.jsonKey) + u" = "_s + cell;
    }
    return facts;
}

} // namespace

// Answers saved earlier (--read-records), read as the sources read them.
class TestSavedAnswer : public QObject
{
    Q_OBJECT

private slots:
    // A saved answer names nothing asked: without an object class its members tell its kind.
    void savedAnswerKind_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QString>("fact"); // "key = cell"
        QTest::newRow("startAddress: an IP network")
            << R"({"rdapConformance":["rdap_level_0"],"startAddress":"2001:db8::",
                "endAddress":"2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"})"_ba
            << u"NetRange: 2001:db8:: - 2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"_s
            << u"network_cidr = 2001:db8::/32"_s;
        QTest::newRow("startAutnum: an AS number")
            << R"({"startAutnum":"64511","name":"STRING-AS"})"_ba << u"ASNumber: 64511"_s
            << u"origin_as = AS64511"_s;
        QTest::newRow("an AS number past any count")
            << R"({"startAutnum":1e300,"name":"HUGE-AS"})"_ba << u"ASName: HUGE-AS"_s
            << u"network_name = HUGE-AS"_s;
        QTest::newRow("ldhName: a domain")
            << R"({"ldhName":"example.test","nameservers":[{"ldhName":"NS1.Example.Test."}]})"_ba
            << u"Domain Name: example.test"_s << u"name_servers = ns1.example.test"_s;
        QTest::newRow("none of them")
            << R"({"handle":"X-1","name":"what"})"_ba << QString() << u"status = registered"_s;
    }

    void savedAnswerKind()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, firstLine);
        QFETCH(QString, fact);
        const LookupResult result = resultFromSavedAnswer(u"saved.json"_s, answer);
        QCOMPARE(result.source, SourceKind::Rdap);
        QCOMPARE(QString::fromUtf8(result.recordText).section(u"\r\n"_s, 0, 0), firstLine);
        QVERIFY2(factsOf(result).contains(fact), qPrintable(factsOf(result).join(u"; "_s)));
    }
};

QUORVANE_REGISTER_TEST(TestSavedAnswer)
#include "tst_savedanswer.moc"
