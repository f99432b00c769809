#include "addresses/addresslist.h"
#include "addresses/listviewmodel.h"
#include "app/apptitle.h"
#include "app/errorreport.h"
#include "formfixture.h"
#include "platform/runtimeerror.h"
#include "results/resultstable.h"
#include "scripteddialogs.h"
#include "testregistry.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QHostAddress>
#include <QImageWriter>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace {

QStringList entries(ListViewModel &list)
{
    QStringList out;
    for (int i = 1; i <= list.itemCount(); ++i)
        out << list.itemText(i);
    return out;
}

void moveMouseOver(QWidget *w)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

void select(QAbstractItemView *view, int row)
{
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

} // namespace

class ErrorReportTests : public QObject
{
    Q_OBJECT

private slots:
    void messageTextByteForByte()
    {
        QCOMPARE(ErrorReporter::messageText(QStringLiteral("Type mismatch"),
                                            QStringLiteral("Form1.Form_Load"), 144),
                 QStringLiteral("Type mismatch\r\nin Brindlemoor2021/08/31.Form1.Form_Load at "
                                "line 144\r\rPlease email screenshot of this message to "
                                "support@ferrowick.com"));
    }

    void failuresAreReportedAndTheHandlerGoesOn()
    {
        ScriptedDialogs dialogs;
        ErrorReporter reporter(dialogs);
        Statements s(reporter, QStringLiteral("Form1.PushButton9_Click"));
        QStringList ran;
        auto routine = [&] {
            ran << QStringLiteral("routine start");
            throw RuntimeError(QStringLiteral("first"));
            ran << QStringLiteral("routine rest"); // abandoned with the failure
        };
        s.run(100, routine);
        s.run(102, [&] { ran << QStringLiteral("102"); });
        const bool guarded =
            s.test(104, [&]() -> bool { throw RuntimeError(QStringLiteral("second")); });
        const auto bounds = s.value<int>(106, [&]() -> int { throw std::bad_alloc(); });
        s.run(108, [&] { ran << QStringLiteral("108"); });

        QCOMPARE(ran, (QStringList{QStringLiteral("routine start"), QStringLiteral("102"),
                                   QStringLiteral("108")}));
        QVERIFY(guarded); // a failing test runs what it guards
        QVERIFY(!bounds); // a failing loop set-up skips the loop
        QCOMPARE(dialogs.shown.size(), 3);
        QCOMPARE(dialogs.shown[0].title, QStringLiteral("Application Error"));
        QVERIFY(dialogs.shown[0].icon == Dialogs::Icon::Warning);
        QVERIFY(dialogs.shown[0].text.startsWith(QStringLiteral(
            "first\r\nin Brindlemoor2021/08/31.Form1.PushButton9_Click at line 100\r\r")));
        QVERIFY(dialogs.shown[1].text.startsWith(QStringLiteral("second\r\n")));
        QVERIFY(dialogs.shown[1].text.contains(QStringLiteral(" at line 104\r\r")));
        QVERIFY(dialogs.shown[2].text.startsWith(QStringLiteral("Out of memory\r\n")));
    }

    void applicationTitle_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        const QString forty = QString(40, QLatin1Char('x'));
        QTest::newRow("product") << QStringLiteral("Quorvane") << QStringLiteral("Quorvane");
        QTest::newRow("exactly 40") << forty << forty;
        QTest::newRow("cut at last blanks")
            << QStringLiteral("Quorvane Bulk Whois Lookup Tool For Many Many Addresses")
            << QStringLiteral("Quorvane Bulk Whois Lookup Tool For Many");
        QTest::newRow("41 with a blank at 39")
            << QString(38, QLatin1Char('a')) + QStringLiteral(" bc")
            << QString(38, QLatin1Char('a'));
        QTest::newRow("no blank") << QString(45, QLatin1Char('y')) << QString(40, QLatin1Char('y'));
    }
    void applicationTitle()
    {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(ApplicationTitle(name), title);
    }
};

class Form1Tests : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWithNoSettings()
    {
        FormFixture f;
        Form1 &form = f.load();
        QCOMPARE(form.windowTitle(), QStringLiteral("Quorvane"));
        QCOMPARE(form.appTitle(), QStringLiteral("Quorvane"));
        QCOMPARE(f.control<QLineEdit>("Text1")->text(), QStringLiteral("7"));
        QCOMPARE(f.settings.values.value(QStringLiteral("Text1")), QStringLiteral("7"));
        QCOMPARE(form.addressList().itemCount(), 0);
        QVERIFY(f.control<QRadioButton>("Option2")->isChecked());
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(form.size(), QSize(536, 595));
        for (const char *list : {"ListView1", "ListView2"}) {
            auto *view = f.control<QAbstractItemView>(list);
            QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(),
                     QStringLiteral("IP Address(es)/Domain(s)"));
            const auto *table = qobject_cast<QTableView *>(view);
            QHeaderView *header =
                table ? table->horizontalHeader() : f.control<QTreeView>(list)->header();
            QCOMPARE(header->sectionSize(0), 467); // 7000 twips
            QCOMPARE(view->toolTip(), Form1::ListToolTip);
        }
        // The address list (a table view) shows its rows as high as the results list does.
        form.addressList().addItem(QStringLiteral("a"));
        form.results().AddResultRow(QStringLiteral("r"));
        QCOMPARE(f.control<QTableView>("ListView1")->rowHeight(0),
                 f.control<QTreeView>("ListView2")->sizeHintForRow(0));
        QCOMPARE(f.control("PushButton4")->geometry(), QRect(8, 381, 520, 27));
        QCOMPARE(f.control("Text1")->parentWidget(), f.control("Frame2"));
        QCOMPARE(f.control<QGroupBox>("Frame1")->title(), QStringLiteral("Sites"));
    }

    void restoresTheSavedList_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("doubled and outer separators")
            << QStringLiteral(";a;;b;") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("blanks kept") << QStringLiteral(" a ;  b")
                                     << QStringList{QStringLiteral(" a "), QStringLiteral("  b")};
        QTest::newRow("empty") << QString() << QStringList{};
        QTest::newRow("one") << QStringLiteral("example.com")
                             << QStringList{QStringLiteral("example.com")};
    }
    void restoresTheSavedList()
    {
        QFETCH(QString, saved);
        QFETCH(QStringList, expected);
        FormFixture f;
        f.settings.values.insert(QStringLiteral("IP Addresses"), saved);
        f.settings.values.insert(QStringLiteral("Text1"), QStringLiteral("abc"));
        Form1 &form = f.load();
        QCOMPARE(entries(form.addressList()), expected);
        // A saved delay that is not a number comes back unchanged.
        QCOMPARE(f.control<QLineEdit>("Text1")->text(), QStringLiteral("abc"));
    }

    void closingSavesTheList()
    {
        FormFixture f;
        f.settings.values.insert(QStringLiteral("IP Addresses"), QStringLiteral("old"));
        Form1 &form = f.load();
        form.addressList().addItems({QStringLiteral("a;b"), QStringLiteral(" c ")});
        form.close();
        QCOMPARE(f.settings.values.value(QStringLiteral("IP Addresses")),
                 QStringLiteral("old;a;b; c "));

        FormFixture g;
        g.settings.values.insert(QStringLiteral("IP Addresses"), QStringLiteral("old"));
        Form1 &emptied = g.load();
        emptied.addressList().clearItems();
        emptied.close();
        QCOMPARE(g.settings.values.value(QStringLiteral("IP Addresses"), QStringLiteral("absent")),
                 QString());
    }

    // A burst of changes is written once, when it has ended; each later change again.
    void aBurstOfChangesIsSavedOnce()
    {
        FormFixture f;
        Form1 &form = f.load();
        const QString key = QStringLiteral("IP Addresses");
        const auto writes = [&] { return f.settings.writtenKeys.count(key); };
        f.dialogs.inputAnswers = {QStringLiteral("x.org")};
        form.PushButton5_Click();
        form.PushButton1_Click();
        QCOMPARE(writes(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(writes(), 1, 5000);
        QCOMPARE(f.settings.values.value(key),
                 QStringLiteral("x.org;") + AddressList::sampleEntries().join(QLatin1Char(';')));
        QTest::qWait(2 * Form1::ListSaveLatestMs);
        QCOMPARE(writes(), 1);

        select(f.control<QAbstractItemView>("ListView1"), 0);
        form.ListView1_KeyDown(Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(f.settings.values.value(key),
                                  AddressList::sampleEntries().join(QLatin1Char(';')), 5000);
        form.PushButton11_Click();
        QTRY_COMPARE_WITH_TIMEOUT(f.settings.values.value(key, QStringLiteral("absent")), QString(),
                                  5000);
        QCOMPARE(writes(), 3);
    }

    // Changes that keep coming do not put the write off for good: it comes while they go on.
    void aSteadyStreamOfChangesIsStillSaved()
    {
        FormFixture f;
        Form1 &form = f.load();
        const qsizetype changes = 40;
        for (qsizetype i = 0; i < changes; ++i)
            f.dialogs.inputAnswers.append(QStringLiteral("a%1.org").arg(i));
        qsizetype madeAtFirstWrite = -1;
        QTimer adder;
        QObject::connect(&adder, &QTimer::timeout, &form, [&] {
            if (madeAtFirstWrite < 0 && f.settings.values.contains(QStringLiteral("IP Addresses")))
                madeAtFirstWrite = form.addressList().itemCount();
            form.PushButton5_Click();
        });
        adder.start(Form1::ListSaveQuietMs / 3);
        QTRY_VERIFY_WITH_TIMEOUT(f.dialogs.inputAnswers.isEmpty(), 30000);
        adder.stop();
        QVERIFY2(madeAtFirstWrite > 0 && madeAtFirstWrite < changes,
                 qPrintable(QString::number(madeAtFirstWrite)));
    }

    void settingsFailuresAreReported()
    {
        FormFixture f;
        f.settings.failWritesWith = QStringLiteral("Permission denied");
        Form1 &form = f.load();
        QCOMPARE(f.dialogs.messages().size(), 1);
        QVERIFY(f.dialogs.messages()[0].contains(QStringLiteral("Form1.Form_Load at line 152")));
        // The window still works; closing reports its own failed statement.
        form.PushButton1_Click();
        QCOMPARE(form.addressList().itemCount(), 3);
        // The list's write, when the burst has ended, reports its own failure.
        QTRY_COMPARE_WITH_TIMEOUT(f.dialogs.messages().size(), 2, 5000);
        QVERIFY(
            f.dialogs.messages()[1].contains(QStringLiteral("Form1.SaveTimer_Timer at line 100")));
        form.close();
        QVERIFY(f.dialogs.messages().last().contains(QStringLiteral(
            "Permission denied\r\nin Brindlemoor2021/08/31.Form1.Form_QueryUnload at line 110")));
    }

    // Keystrokes in the delay box write nothing; the end of the edit writes the text once.
    void delayIsStoredWhenItsEditEnds_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("Enter") << QStringLiteral("Enter");
        QTest::newRow("focus leaves") << QStringLiteral("focus");
        QTest::newRow("a run starts") << QStringLiteral("run");
        QTest::newRow("close") << QStringLiteral("close");
    }
    void delayIsStoredWhenItsEditEnds()
    {
        QFETCH(QString, end);
        FormFixture f;
        Form1 &form = f.load();
        const QString key = QStringLiteral("Text1");
        auto *text1 = f.control<QLineEdit>("Text1");
        text1->clear();
        QTest::keyClicks(text1, QStringLiteral("10"));
        QCOMPARE(f.settings.writtenKeys.count(key), 1); // start-up
        if (end == u"Enter") {
            QTest::keyClick(text1, Qt::Key_Return);
        } else if (end == u"focus") {
            QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
            QCoreApplication::sendEvent(text1, &out);
        } else if (end == u"run") {
            form.PushButton4_Click();
        } else {
            form.close();
        }
        QCOMPARE(f.settings.values.value(key), QStringLiteral("10"));
        QCOMPARE(f.settings.writtenKeys.count(key), 2);
        // An edit that has been stored is not written again.
        form.close();
        QCOMPARE(f.settings.writtenKeys.count(key), 2);
    }

    void addPrompt_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("cancelled") << QStringList{} << QStringList{};
        QTest::newRow("empty") << QStringList{QString()} << QStringList{};
        QTest::newRow("two spaces")
            << QStringList{QStringLiteral("  ")} << QStringList{QStringLiteral("  ")};
        QTest::newRow("untrimmed, twice")
            << QStringList{QStringLiteral(" a.com "), QStringLiteral(" a.com ")}
            << QStringList{QStringLiteral(" a.com "), QStringLiteral(" a.com ")};
    }
    void addPrompt()
    {
        QFETCH(QStringList, answers);
        QFETCH(QStringList, expected);
        FormFixture f;
        Form1 &form = f.load();
        f.dialogs.inputAnswers = answers;
        for (qsizetype i = 0; i < qMax<qsizetype>(1, answers.size()); ++i)
            f.click("PushButton5");
        QCOMPARE(entries(form.addressList()), expected);
        QCOMPARE(f.dialogs.shown.first().text, QStringLiteral("Enter website address to add: "));
        QCOMPARE(f.dialogs.shown.first().title, QStringLiteral("Quorvane"));
    }

    void samplesTwiceGiveSix()
    {
        FormFixture f;
        Form1 &form = f.load();
        f.click("PushButton1");
        f.click("PushButton1");
        const QStringList samples = AddressList::sampleEntries();
        QCOMPARE(entries(form.addressList()), samples + samples);
        QCOMPARE(samples.size(), 3);
        QCOMPARE(samples[0].count(QLatin1Char('.')), 2); // a web server's host name
        QCOMPARE(samples[1].count(QLatin1Char('.')), 1); // a bare domain
        QVERIFY(QHostAddress(samples[2]).protocol() == QAbstractSocket::IPv4Protocol);
    }

    void removalByKeyAndDoubleClick_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("removes");
        QTest::newRow("Delete") << int(Qt::Key_Delete) << Qt::KeyboardModifiers() << true;
        QTest::newRow("Shift+Ctrl+Alt+Delete")
            << int(Qt::Key_Delete) << (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)
            << true;
        QTest::newRow("Backspace") << int(Qt::Key_Backspace) << Qt::KeyboardModifiers() << false;
        QTest::newRow("x") << int(Qt::Key_X) << Qt::KeyboardModifiers() << false;
    }
    void removalByKeyAndDoubleClick()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, removes);
        FormFixture f;
        Form1 &form = f.load();
        form.addressList().addItems(
            {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        auto *view = f.control<QAbstractItemView>("ListView1");
        select(view, 1);
        QTest::keyClick(view, Qt::Key(key), modifiers);
        const QStringList expected =
            removes ? QStringList{QStringLiteral("a"), QStringLiteral("c")}
                    : QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
        QCOMPARE(entries(form.addressList()), expected);
    }

    void removalsRefusedWhileBusy()
    {
        FormFixture f;
        Form1 &form = f.load();
        form.addressList().addItems({QStringLiteral("a"), QStringLiteral("b")});
        form.results().AddResultRow(QStringLiteral("r"));
        select(f.control<QAbstractItemView>("ListView1"), 0);
        select(f.control<QTreeView>("ListView2"), 0);
        form.beginBusy();
        form.ListView1_DblClick();
        form.ListView1_KeyDown(Qt::Key_Delete);
        form.PushButton11_Click();
        form.ListView2_DblClick();
        form.ListView2_KeyDown(Qt::Key_Delete);
        QCOMPARE(form.addressList().itemCount(), 2);
        QCOMPARE(form.results().itemCount(), 1);
        form.endBusy();
        form.ListView1_DblClick();
        form.ListView2_DblClick();
        QCOMPARE(entries(form.addressList()), QStringList{QStringLiteral("b")});
        QCOMPARE(form.results().itemCount(), 0);
        // Nothing selected or nothing there: nothing happens and nothing is shown.
        form.ListView1_DblClick();
        form.ListView2_KeyDown(Qt::Key_Delete);
        QCOMPARE(form.addressList().itemCount(), 1);
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void checkAllAndUncheckAllFromTheResultsMenu()
    {
        FormFixture f;
        Form1 &form = f.load();
        for (const char *address : {"a", "b", "c"})
            form.results().AddResultRow(QString::fromLatin1(address));
        form.results().setChecked(2, true);
        auto *view = f.control<QTreeView>("ListView2");
        QCOMPARE(view->contextMenuPolicy(), Qt::ActionsContextMenu);
        auto action = [&](const QString &text) {
            for (QAction *a : view->actions()) {
                if (a->text() == text)
                    return a;
            }
            return static_cast<QAction *>(nullptr);
        };
        QVERIFY(action(QStringLiteral("Check All")) && action(QStringLiteral("Uncheck All")));
        action(QStringLiteral("Check All"))->trigger();
        QVERIFY(form.results().isChecked(1) && form.results().isChecked(2) &&
                form.results().isChecked(3));
        action(QStringLiteral("Uncheck All"))->trigger();
        QVERIFY(!form.results().isChecked(1) && !form.results().isChecked(2) &&
                !form.results().isChecked(3));
    }

    void pointerFeedback()
    {
        FormFixture f;
        Form1 &form = f.load();
        QCOMPARE(form.pointer(), 0);
        moveMouseOver(f.control("PushButton4"));
        QCOMPARE(form.pointer(), 99);
        QVERIFY(!form.hasHandCursor());
        QCOMPARE(form.cursor().shape(),
                 Qt::ArrowCursor);           // no hand cursor file: looks like the arrow
        moveMouseOver(f.control("Option1")); // option buttons and the box leave it alone
        moveMouseOver(f.control("Text1"));
        QCOMPARE(form.pointer(), 99);
        moveMouseOver(f.control("Frame2"));
        QCOMPARE(form.pointer(), 0);
        moveMouseOver(f.control("PushButton7"));
        QCOMPARE(form.pointer(), 99);
        moveMouseOver(f.control<QTreeView>("ListView2")->viewport());
        QCOMPARE(form.pointer(), 0);

        form.beginBusy();
        QCOMPARE(form.pointer(), 11);
        QCOMPARE(form.cursor().shape(), Qt::WaitCursor);
        for (const char *name : {"PushButton1", "ListView1", "Frame1", "Form1"})
            moveMouseOver(name == QByteArrayView("Form1") ? &form : f.control(name));
        QCOMPARE(form.pointer(), 11);
        form.beginBusy(); // a second long operation inside the first
        form.endBusy();
        QCOMPARE(form.pointer(), 11);
        form.endBusy();
        QCOMPARE(form.pointer(), 0);
    }

    void handCursorAndSkinBesideTheProgram()
    {
        FormFixture f;
        // A cursor file is an icon file with type 2 and the hot spot in the directory entry.
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QBuffer ico;
        ico.open(QIODevice::WriteOnly);
        QVERIFY(QImageWriter(&ico, "ico").write(image));
        QByteArray cur = ico.data();
        cur[2] = 2;
        cur[10] = 5;
        cur[11] = 0;
        cur[12] = 7;
        cur[13] = 0;
        QFile cursorFile(f.programDir.filePath(QStringLiteral("HAND-M.CUR")));
        QVERIFY(cursorFile.open(QIODevice::WriteOnly));
        cursorFile.write(cur);
        cursorFile.close();
        QVERIFY(QDir(f.programDir.path()).mkdir(QStringLiteral("x")));
        QFile skin(f.programDir.filePath(QStringLiteral("x/o.cjs")));
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QPushButton { color: navy; }");
        skin.close();

        Form1 &form = f.load();
        QVERIFY2(f.dialogs.shown.isEmpty(),
                 qPrintable(f.dialogs.messages().join(QLatin1Char('|'))));
        QVERIFY(form.hasHandCursor());
        moveMouseOver(f.control("PushButton1"));
        QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(form.cursor().hotSpot(), QPoint(5, 7));
        QCOMPARE(form.styleSheet(), QStringLiteral("QPushButton { color: navy; }"));
        QVERIFY(f.control("Frame1")->palette().color(QPalette::Window) != QColor(Qt::white));

        FormFixture plain;
        Form1 &white = plain.load();
        QVERIFY(white.styleSheet().isEmpty());
        QCOMPARE(plain.control("Frame1")->palette().color(QPalette::Window), QColor(Qt::white));
    }

    void brokenCursorFileIsReportedAndStartUpGoesOn()
    {
        FormFixture f;
        QFile cursorFile(f.programDir.filePath(QStringLiteral("HAND-M.CUR")));
        QVERIFY(cursorFile.open(QIODevice::WriteOnly));
        cursorFile.write("not a cursor");
        cursorFile.close();
        Form1 &form = f.load();
        QCOMPARE(f.dialogs.messages().size(), 1);
        QVERIFY(f.dialogs.messages()[0].contains(QStringLiteral("Form_Load at line 108")));
        QCOMPARE(form.windowTitle(), QStringLiteral("Quorvane")); // the later statements ran
    }

    void homePageOnOneStartInAHundred_data()
    {
        QTest::addColumn<int>("draw");
        QTest::addColumn<int>("opened");
        QTest::newRow("7 opens") << 7 << 1;
        QTest::newRow("1 does not") << 1 << 0;
        QTest::newRow("100 does not") << 100 << 0;
    }
    void homePageOnOneStartInAHundred()
    {
        QFETCH(int, draw);
        QFETCH(int, opened);
        FormFixture f;
        f.load([draw] { return draw; });
        QCOMPARE(f.desktop.opened.size(), opened);
        if (opened)
            QCOMPARE(f.desktop.opened.first(), QUrl(Form1::HomePage));
    }
};

QUORVANE_REGISTER_TEST(ErrorReportTests)
QUORVANE_REGISTER_TEST(Form1Tests)
#include "tst_form1.moc"
