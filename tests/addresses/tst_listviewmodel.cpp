#include "addresses/listviewmodel.h"
#include "platform/runtimeerror.h"
#include "testregistry.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class ListViewModelTests : public QObject
{
    Q_OBJECT

    static QStringList texts(const ListViewModel &m)
    {
        QStringList out;
        for (int i = 1; i <= m.itemCount(); ++i)
            out << m.itemText(i);
        return out;
    }

private slots:
    void itemsKeepOrderThroughAddAndRemove()
    {
        ListViewModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.addHeader(QStringLiteral("A"));
        QCOMPARE(m.addItem(QStringLiteral("a")), 1);
        m.addItems({QStringLiteral("b"), QString(), QStringLiteral("d")});
        QCOMPARE(m.addItem(QStringLiteral("e")), 5);
        m.removeItem(2);
        QCOMPARE(texts(m), (QStringList{QStringLiteral("a"), QString(), QStringLiteral("d"),
                                        QStringLiteral("e")}));
        // Texts share one buffer: an entry that grows or shrinks leaves its neighbours whole.
        m.setItemText(2, QStringLiteral("\u00e9l\u00e9phant.example"));
        m.setItemText(3, QString());
        m.setItemText(1, QStringLiteral("b"));
        QCOMPARE(texts(m),
                 (QStringList{QStringLiteral("b"), QStringLiteral("\u00e9l\u00e9phant.example"),
                              QString(), QStringLiteral("e")}));
        m.clearItems();
        QCOMPARE(m.itemCount(), 0);
        QCOMPARE(m.headerCount(), 1);
    }

    void subItemsAreSparseAndReadEmptyWhenUnset()
    {
        ListViewModel m(true);
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        m.addHeader(QStringLiteral("Address"));
        m.addItem(QStringLiteral("x"));
        m.addHeader(QStringLiteral("B"));
        m.addHeader(QStringLiteral("C"));
        QCOMPARE(m.subItem(1, 2), QString());
        m.setSubItem(1, 2, QStringLiteral("c"));
        m.setSubItem(1, 1, QStringLiteral("b"));
        QCOMPARE(m.subItem(1, 1), QStringLiteral("b"));
        QCOMPARE(m.subItem(1, 2), QStringLiteral("c"));
        QCOMPARE(m.filledCells(), 2);
        m.setSubItem(1, 1, QString());
        QCOMPARE(m.filledCells(), 1);
        QCOMPARE(m.data(m.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("c"));
    }

    void outOfRangeThrows_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("k");
        QTest::newRow("item 0") << 0 << 1;
        QTest::newRow("item past end") << 3 << 1;
        QTest::newRow("sub-item 0 is the item text") << 1 << 0;
        QTest::newRow("sub-item past the columns") << 1 << 2;
    }
    void outOfRangeThrows()
    {
        QFETCH(int, index);
        QFETCH(int, k);
        ListViewModel m;
        m.addHeader(QStringLiteral("A"));
        m.addHeader(QStringLiteral("B"));
        m.addItems({QStringLiteral("1"), QStringLiteral("2")});
        QVERIFY_THROWS_EXCEPTION(RuntimeError, m.subItem(index, k));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, m.setSubItem(index, k, QStringLiteral("v")));
    }

    void checkBoxesOnlyWhereAsked()
    {
        ListViewModel plain;
        ListViewModel checkable(true);
        for (ListViewModel *m : {&plain, &checkable}) {
            m->addHeader(QStringLiteral("A"));
            m->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
        }
        QVERIFY(!(plain.flags(plain.index(0, 0)) & Qt::ItemIsUserCheckable));
        QVERIFY(!(plain.flags(plain.index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(checkable.flags(checkable.index(0, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(checkable.setData(checkable.index(1, 0), Qt::Checked, Qt::CheckStateRole));
        QVERIFY(!checkable.isChecked(1) && checkable.isChecked(2) && !checkable.isChecked(3));
        checkable.setAllChecked(true);
        QVERIFY(checkable.isChecked(1) && checkable.isChecked(3));
        checkable.setAllChecked(false);
        QVERIFY(!checkable.isChecked(2));
    }

    void clearingHeadersDropsTheirCells()
    {
        ListViewModel m;
        m.addHeader(QStringLiteral("A"));
        m.addHeader(QStringLiteral("B"));
        m.addItem(QStringLiteral("x"));
        m.setSubItem(1, 1, QStringLiteral("old"));
        m.clearHeaders();
        m.addHeader(QStringLiteral("A"));
        m.addHeader(QStringLiteral("B"));
        QCOMPARE(m.subItem(1, 1), QString());
    }

    void widthChangesAreAnnounced()
    {
        ListViewModel m;
        QSignalSpy spy(&m, &ListViewModel::headerWidthChanged);
        m.addHeader(QStringLiteral("A"));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(m.headerWidth(1), ListViewModel::DefaultWidth);
        m.setHeaderWidth(1, 7000);
        m.addHeader(QStringLiteral("B"), 5000);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 2);
        QCOMPARE(m.headerWidth(2), 5000);
    }
};

QUORVANE_REGISTER_TEST(ListViewModelTests)
#include "tst_listviewmodel.moc"
