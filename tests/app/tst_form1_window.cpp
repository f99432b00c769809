#include "addresses/listviewmodel.h"
#include "formfixture.h"
#include "testregistry.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

using namespace Qt::StringLiterals;

class Form1WindowTests : public QObject
{
    Q_OBJECT

private slots:
    // Opened at the designed size every control is where it was designed to be; a larger
    // window gives its extra height to the results and its extra width to every row.
    void layout_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("expected");
        const QSize designed(536, 595);
        const QSize larger(736, 795); // 200 pixels more each way
        const QList<std::tuple<const char *, QRect, QRect>> rows{
            {"ListView1", {8, 8, 520, 105}, {8, 8, 720, 105}},
            {"PushButton5", {8, 120, 256, 27}, {8, 120, 356, 27}},
            {"PushButton3", {272, 120, 256, 27}, {372, 120, 356, 27}},
            {"Frame1", {8, 187, 520, 95}, {8, 187, 720, 95}},
            {"Option1", {16, 43, 136, 19}, {16, 43, 136, 19}},
            {"CheckKeepNotices", {272, 67, 232, 19}, {272, 67, 232, 19}},
            {"Text1", {16, 20, 436, 23}, {16, 20, 636, 23}},
            {"PushButton7", {464, 20, 40, 23}, {664, 20, 40, 23}},
            {"PushButton4", {8, 381, 520, 27}, {8, 381, 720, 27}},
            {"ListView2", {8, 415, 520, 105}, {8, 415, 720, 305}},
            {"PushButton6", {8, 526, 256, 27}, {8, 726, 356, 27}},
            {"PushButton9", {272, 560, 256, 27}, {372, 760, 356, 27}},
            {"ReuseHours", {142, 350, 72, 23}, {142, 350, 72, 23}},
        };
        for (const auto &[name, atDesigned, atLarger] : rows) {
            QTest::addRow("%s designed", name)
                << designed << QString::fromLatin1(name) << atDesigned;
            QTest::addRow("%s larger", name) << larger << QString::fromLatin1(name) << atLarger;
        }
        QTest::newRow("below the minimum")
            << QSize(300, 200) << u"ListView2"_s << QRect(8, 415, 520, 105);
    }

    void layout()
    {
        QFETCH(QSize, window);
        QFETCH(QString, control);
        QFETCH(QRect, expected);
        FormFixture f;
        Form1 &form = f.make();
        QCOMPARE(form.size(), Form1::designedSize());
        form.show();
        form.resize(window);
        QCOMPARE(form.size(), window.expandedTo(Form1::designedSize()));
        QCOMPARE(form.findChild<QWidget *>(control)->geometry(), expected);
        // The last buttons keep their distance to the bottom edge.
        QCOMPARE(form.height() - f.control("PushButton18")->geometry().bottom() - 1, 8);
    }

    void sizeRememberedAcrossRestarts_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QSize>("opened");
        const QSize designed = Form1::designedSize();
        QTest::newRow("none") << QString() << designed;
        QTest::newRow("larger") << u"700x620"_s << QSize(700, 620);
        QTest::newRow("narrower than the minimum") << u"500x620"_s << designed;
        QTest::newRow("lower than the minimum") << u"700x500"_s << designed;
        QTest::newRow("unreadable") << u"700 x 620"_s << designed;
        QTest::newRow("negative") << u"-700x620"_s << designed;
        // Saved before the reuse row made the window taller: below the minimum now.
        QTest::newRow("lower than the grown minimum") << u"700x565"_s << designed;
    }

    void sizeRememberedAcrossRestarts()
    {
        QFETCH(QString, saved);
        QFETCH(QSize, opened);
        FormFixture f;
        if (!saved.isNull())
            f.settings.values.insert(Form1::WindowSizeKey, saved);
        Form1 &form = f.load();
        QCOMPARE(form.size(), opened);
        form.resize(opened + QSize(10, 5));
        form.close();
        QCOMPARE(f.settings.values.value(Form1::WindowSizeKey),
                 u"%1x%2"_s.arg(opened.width() + 10).arg(opened.height() + 5));
    }

    // "Keep notices" is off the first time, and kept across restarts once changed.
    void keepNoticesRememberedAcrossRestarts_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<bool>("checked");
        QTest::newRow("none") << QString() << false;
        QTest::newRow("on") << u"1"_s << true;
        QTest::newRow("off") << u"0"_s << false;
        QTest::newRow("unreadable") << u"yes please"_s << false;
    }
    void keepNoticesRememberedAcrossRestarts()
    {
        QFETCH(QString, saved);
        QFETCH(bool, checked);
        FormFixture f;
        if (!saved.isNull())
            f.settings.values.insert(Form1::KeepNoticesKey, saved);
        f.load();
        auto *box = f.control<QCheckBox>("CheckKeepNotices");
        QCOMPARE(box->parentWidget(), f.control("Frame1"));
        QCOMPARE(box->text(), u"Keep notices"_s);
        QCOMPARE(box->isChecked(), checked);
        box->click();
        QCOMPARE(f.settings.values.value(Form1::KeepNoticesKey), checked ? u"0"_s : u"1"_s);
        FormFixture again;
        again.settings.values = f.settings.values;
        again.load();
        QCOMPARE(again.control<QCheckBox>("CheckKeepNotices")->isChecked(), !checked);
    }

    void sizeLargerThanTheScreenIsCut()
    {
        FormFixture f;
        f.settings.values.insert(Form1::WindowSizeKey, u"20000x20000"_s);
        Form1 &form = f.load();
        const QRect screen = form.screen()->availableGeometry();
        QCOMPARE(form.size(), screen.size().expandedTo(Form1::designedSize()));
        // Centred, yet not a pixel off the screen's corner.
        form.centerOnScreen();
        QCOMPARE(form.pos(), screen.topLeft());
    }

    void enterPressesTheFocusedButton_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
    }

    void enterPressesTheFocusedButton()
    {
        QFETCH(int, key);
        FormFixture f;
        Form1 &form = f.load();
        QTest::keyClick(f.control("PushButton1"), Qt::Key(key));
        QCOMPARE(form.addressList().itemCount(), 3);
        // Typing in the delay box presses nothing.
        QTest::keyClick(f.control("Text1"), Qt::Key(key));
        QCOMPARE(form.addressList().itemCount(), 3);
    }

    void everyControlHasAnAccessibleName()
    {
        FormFixture f;
        f.load();
        const QList<QWidget *> controls = f.form->findChildren<QWidget *>();
        int named = 0;
        for (QWidget *w : controls) {
            if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QGroupBox *>(w) &&
                !qobject_cast<QAbstractItemView *>(w) && !qobject_cast<QAbstractSpinBox *>(w) &&
                (!qobject_cast<QLineEdit *>(w) || qobject_cast<QAbstractSpinBox *>(w->parent())))
                continue;
            if (w->objectName().isEmpty())
                continue; // parts of a control, such as a list's header
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            QVERIFY(a);
            const QString name = a->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty(), qPrintable(w->objectName()));
            if (auto *b = qobject_cast<QAbstractButton *>(w))
                QCOMPARE(name, b->text());
            ++named;
        }
        QCOMPARE(named, 22);
        QCOMPARE(QAccessible::queryAccessibleInterface(f.control("Text1"))->text(QAccessible::Name),
                 u"Delay Between Lookups (in seconds)"_s);
    }
};

QUORVANE_REGISTER_TEST(Form1WindowTests)
#include "tst_form1_window.moc"
