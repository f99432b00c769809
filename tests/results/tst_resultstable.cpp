#include "results/resultstable.h"
#include "testregistry.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Field = std::pair<QString, QString>;
using Record = QList<Field>;

// The table as text: the headers, then each row's cells joined by "|".
QStringList dump(const ResultsTable &t)
{
    QStringList headers;
    for (int k = 1; k <= t.headerCount(); ++k)
        headers << t.headerText(k);
    QStringList out{headers.join(QLatin1Char('|'))};
    for (int i = 1; i <= t.itemCount(); ++i) {
        QStringList cells{t.itemText(i)};
        for (int k = 1; k < t.headerCount(); ++k)
            cells << t.subItem(i, k);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace

class ResultsTableTests : public QObject
{
    Q_OBJECT

private slots:
    void pivot_data()
    {
        QTest::addColumn<QList<Record>>("records");
        QTest::addColumn<QStringList>("expected");
        const QString addr = QStringLiteral("IP Address(es)/Domain(s)");
        auto f = [](const char *n, const char *v) {
            return Field{QString::fromUtf8(n), QString::fromUtf8(v)};
        };

        QTest::newRow("A and B, then B and C")
            << QList<Record>{{f("A", "1"), f("B", "2")}, {f("B", "3"), f("C", "4")}}
            << QStringList{addr + QStringLiteral("|A|B|C"), QStringLiteral("r1|1|2|"),
                           QStringLiteral("r2||3|4")};
        QTest::newRow("three name servers joined by two tabs")
            << QList<Record>{{f("Name Server", "ns1"), f("Name Server", "ns2"),
                              f("Name Server", "ns3")}}
            << QStringList{addr + QStringLiteral("|Name Server"),
                           QStringLiteral("r1|ns1\tns2\tns3")};
        QTest::newRow("case and end spaces share a column; first spelling kept")
            << QList<Record>{{f(" Registrar ", "  X Inc  "), f("REGISTRAR", "Y")},
                             {f("registrar  ", "Z")}}
            << QStringList{addr + QStringLiteral("|Registrar"), QStringLiteral("r1|X Inc\tY"),
                           QStringLiteral("r2|Z")};
        QTest::newRow("only spaces are trimmed, tabs stay")
            << QList<Record>{{f("\tTab ", " \tv\t ")}}
            << QStringList{addr + QStringLiteral("|\tTab"), QStringLiteral("r1|\tv\t")};
        QTest::newRow("empty values and names are fields; an empty cell takes the next value")
            << QList<Record>{{f("Status", ""), f("Status", "ok"), f("", "anon")}}
            << QStringList{addr + QStringLiteral("|Status|"), QStringLiteral("r1|ok|anon")};
    }
    void pivot()
    {
        QFETCH(QList<Record>, records);
        QFETCH(QStringList, expected);
        ResultsTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        t.ResetResultsTable();
        for (qsizetype i = 0; i < records.size(); ++i) {
            const int row = t.AddResultRow(QStringLiteral("r") + QString::number(i + 1));
            for (const Field &field : records[i])
                QVERIFY(t.PlaceField(row, field.first, field.second));
        }
        QCOMPARE(dump(t), expected);
    }

    void fieldMatchingTheAddressColumnIsAFailedPlacement()
    {
        ResultsTable t;
        t.ResetResultsTable();
        const int row = t.AddResultRow(QStringLiteral("a.com"));
        QVERIFY(
            !t.PlaceField(row, QStringLiteral(" ip address(es)/domain(s) "), QStringLiteral("x")));
        QCOMPARE(t.headerCount(), 1);
        QCOMPARE(t.FindResultColumn(QStringLiteral("IP ADDRESS(ES)/DOMAIN(S)")), 1);
        QCOMPARE(t.FindResultColumn(QStringLiteral("Registrar")), -1);
        t.MarkRowInvalid(row);
        t.MarkRowInvalid(row);
        QCOMPARE(t.itemText(row), QStringLiteral("Invalid input: Invalid input: a.com"));
    }

    void resetAndClear()
    {
        ResultsTable t;
        t.addHeader(ResultsTable::AddressCaption, ResultsTable::StartWidthTwips);
        t.ResetResultsTable();
        QCOMPARE(t.headerWidth(1), 5000);
        int row = t.AddResultRow(QStringLiteral("a"));
        t.PlaceField(row, QStringLiteral("Old"), QStringLiteral("1"));
        t.clearItems(); // "Clear Results": the columns stay
        QCOMPARE(t.headerCount(), 2);
        QCOMPARE(t.FindResultColumn(QStringLiteral("old")), 2);
        t.ResetResultsTable(); // a new run starts from column 1 alone
        QCOMPARE(dump(t), QStringList{ResultsTable::AddressCaption});
        QCOMPARE(t.FindResultColumn(QStringLiteral("Old")), -1);
        row = t.AddResultRow(QStringLiteral("b"));
        QVERIFY(t.PlaceField(row, QStringLiteral("New"), QStringLiteral("2")));
        QCOMPARE(t.FindResultColumn(QStringLiteral("NEW")), 2);
    }

    void sortByAColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QStringList>("expected");
        // Rows: address | Expires
        QTest::newRow("by the address, case aside")
            << 0 << false << QStringList{u"A.com"_s, u"b.com"_s, u"c.com"_s, u"d.com"_s};
        QTest::newRow("by a date, empty cells last")
            << 1 << false << QStringList{u"c.com"_s, u"A.com"_s, u"b.com"_s, u"d.com"_s};
        QTest::newRow("descending, empty cells still last")
            << 1 << true << QStringList{u"b.com"_s, u"A.com"_s, u"c.com"_s, u"d.com"_s};
    }
    void sortByAColumn()
    {
        QFETCH(int, column);
        QFETCH(bool, descending);
        QFETCH(QStringList, expected);
        ResultsTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        t.ResetResultsTable();
        const QList<std::pair<QString, QString>> rows{{u"b.com"_s, u"2031-01-01"_s},
                                                      {u"d.com"_s, QString()},
                                                      {u"A.com"_s, u"2027-05-01"_s},
                                                      {u"c.com"_s, u"2026-12-31"_s}};
        for (const auto &[address, expires] : rows) {
            const int row = t.AddResultRow(address);
            t.PlaceField(row, u"Expires"_s, expires);
            // A row's tick goes with it.
            t.setChecked(row, address == u"c.com"_s);
        }
        t.sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        QStringList order;
        for (int i = 1; i <= t.itemCount(); ++i) {
            order << t.itemText(i);
            QCOMPARE(t.isChecked(i), t.itemText(i) == u"c.com"_s);
        }
        QCOMPARE(order, expected);
    }

    void columnsAreBounded()
    {
        ResultsTable t;
        t.ResetResultsTable();
        const int row = t.AddResultRow(QStringLiteral("a"));
        for (int k = 2; k <= ResultsTable::MaxColumns; ++k)
            QVERIFY(t.PlaceField(row, QString::number(k), QStringLiteral("v")));
        QCOMPARE(t.headerCount(), ResultsTable::MaxColumns);
        QVERIFY(!t.PlaceField(row, QStringLiteral("one too many"), QStringLiteral("v")));
        QVERIFY(t.PlaceField(row, QStringLiteral("2"), QStringLiteral("w"))); // existing still fine
        QCOMPARE(t.subItem(row, 1), QStringLiteral("v\tw"));
    }
};

QUORVANE_REGISTER_TEST(ResultsTableTests)
#include "tst_resultstable.moc"
