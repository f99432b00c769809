#include "addresses/addresslist.h"
#include "addresses/listviewmodel.h"
#include "testregistry.h"

#include <QTest>

class AddressListTests : public QObject
{
    Q_OBJECT

private slots:
    void savedFormRoundTrip_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QStringList>("restored");
        QTest::newRow("two") << QStringList{QStringLiteral("a"), QStringLiteral("b")}
                             << QStringLiteral("a;b")
                             << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("empty list") << QStringList{} << QString() << QStringList{};
        QTest::newRow("entry with ; comes back as two")
            << QStringList{QStringLiteral("x;y")} << QStringLiteral("x;y")
            << QStringList{QStringLiteral("x"), QStringLiteral("y")};
        QTest::newRow("empty entries do not survive")
            << QStringList{QString(), QStringLiteral(" a "), QString()} << QStringLiteral("; a ;")
            << QStringList{QStringLiteral(" a ")};
    }
    void savedFormRoundTrip()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, saved);
        QFETCH(QStringList, restored);
        ListViewModel list;
        list.addHeader(AddressList::ColumnCaption);
        list.addItems(entries);
        QCOMPARE(AddressList::savedForm(list), saved);
        QCOMPARE(AddressList::restoredEntries(saved), restored);
    }
};

QUORVANE_REGISTER_TEST(AddressListTests)
#include "tst_addresslist.moc"
