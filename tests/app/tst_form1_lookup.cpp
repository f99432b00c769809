#include "addresses/listviewmodel.h"
#include "formfixture.h"
#include "results/resultstable.h"
#include "run/lookuprun.h"
#include "scripteddialogs.h"
#include "testhttpserver.h"
#include "testregistry.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

TestHttpServer::Response record(const QByteArray &target)
{
    TestHttpServer::Response r;
    r.body = "<div id=\"whoisRecordContainer\">Domain: " + target.mid(1) + "<br>Status: ok</div>";
    if (target.contains("slow"))
        r.delayMs = 60000;
    return r;
}

} // namespace

// The start button and the window around a run, against a server on 127.0.0.1.
class Form1LookupTests : public QObject
{
    Q_OBJECT

    TestHttpServer m_server{record};

    void setUp(FormFixture &f, const QString &delay, const QStringList &addresses)
    {
        qputenv("QUORVANE_SITE2_URL", (m_server.baseUrl() + QStringLiteral("/")).toUtf8());
        f.load();
        f.control<QLineEdit>("Text1")->setText(delay);
        f.form->addressList().addItems(addresses);
    }

private slots:
    void checksComeFirstAndChangeNothing_data()
    {
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("message");
        QTest::newRow("delay not a number")
            << QStringLiteral("abc") << QStringList{QStringLiteral("a.com")}
            << QStringLiteral("You must enter a number.");
        QTest::newRow("delay checked before the list")
            << QString() << QStringList{} << QStringLiteral("You must enter a number.");
        QTest::newRow("empty list")
            << QStringLiteral("0") << QStringList{} << QStringLiteral("No URL(s) added.");
    }
    void checksComeFirstAndChangeNothing()
    {
        QFETCH(QString, delay);
        QFETCH(QStringList, addresses);
        QFETCH(QString, message);
        FormFixture f;
        setUp(f, delay, addresses);
        f.form->results().AddResultRow(QStringLiteral("kept"));
        f.click("PushButton4");
        QCOMPARE(f.dialogs.messages(), QStringList{message});
        QCOMPARE(f.control<QPushButton>("PushButton4")->text(), QStringLiteral("Start Looking Up"));
        QCOMPARE(f.form->results().itemCount(), 1);
        QVERIFY(!f.form->isRunning());
        QVERIFY(f.form->StopRequested());
    }

    void aRunFromStartToDone()
    {
        FormFixture f;
        setUp(f, QStringLiteral("0"), {QStringLiteral("a.com"), QStringLiteral("b.com")});
        f.form->results().AddResultRow(QStringLiteral("old row"));
        auto *start = f.control<QPushButton>("PushButton4");
        bool sawRunningState = false;
        f.dialogs.whileShown = [&](const ScriptedDialogs::Shown &shown) {
            if (shown.text == QStringLiteral("Done.")) {
                // Finishing: the pointer and the site choice are back, the caption not yet.
                sawRunningState = f.form->pointer() == Form1::Arrow &&
                                  f.control("Frame1")->isEnabled() &&
                                  start->text() == QStringLiteral("Stop");
            }
        };
        f.click("PushButton4");
        QCOMPARE(start->text(), QStringLiteral("Stop"));
        QVERIFY(!f.control("Frame1")->isEnabled());
        QCOMPARE(f.form->pointer(), int(Form1::Hourglass));
        QVERIFY(!f.form->StopRequested());

        // Added during the run: not looked up in it.
        f.form->addressList().addItem(QStringLiteral("late.com"));
        // Refused while the run works.
        f.form->PushButton9_Click();
        f.form->PushButton11_Click();
        QCOMPARE(f.form->addressList().itemCount(), 3);

        QTRY_VERIFY_WITH_TIMEOUT(!f.form->isRunning(), 10000);
        QVERIFY(sawRunningState);
        QCOMPARE(f.dialogs.messages(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(start->text(), QStringLiteral("Start Looking Up"));
        ResultsTable &t = f.form->results();
        QCOMPARE(t.itemCount(), 2);
        QCOMPARE(t.itemText(1), QStringLiteral("a.com"));
        QCOMPARE(t.headerText(3), QStringLiteral("Status"));
        QCOMPARE(t.headerWidth(1), 5000);
        QVERIFY(f.control("Frame1")->isEnabled());
        QVERIFY(f.form->StopRequested());
    }

    // With "Reuse answers up to 1 hours old" the second run asks no server: its rows are the
    // first run's, counted in the caption as asked ones. The hours are kept in the settings.
    void reusedRowsLookAsked()
    {
        FormFixture f;
        setUp(f, QStringLiteral("0"),
              {QStringLiteral("reuse-a.com"), QStringLiteral("reuse-b.com")});
        const auto rows = [&] {
            QStringList out;
            ResultsTable &t = f.form->results();
            for (int i = 1; i <= t.itemCount(); ++i)
                out << t.itemText(i) + u'|' + t.subItem(i, 1) + u'|' + t.subItem(i, 2);
            return out;
        };
        const qsizetype asked = m_server.targets.size();
        f.click("PushButton4");
        QTRY_VERIFY_WITH_TIMEOUT(!f.form->isRunning(), 10000);
        QCOMPARE(m_server.targets.size(), asked + 2);
        const QStringList first = rows();
        QCOMPARE(first.size(), 2);

        auto *hours = f.control<QSpinBox>("ReuseHours");
        QCOMPARE(hours->value(), 0);
        hours->setValue(1);
        QCOMPARE(f.settings.values.value(Form1::ReuseHoursKey), QStringLiteral("1"));
        QStringList captions;
        connect(f.form.get(), &QWidget::windowTitleChanged, this,
                [&](const QString &title) { captions << title; });
        f.click("PushButton4");
        QTRY_VERIFY_WITH_TIMEOUT(!f.form->isRunning(), 10000);
        QCOMPARE(m_server.targets.size(), asked + 2);
        QCOMPARE(rows(), first);
        QVERIFY2(captions.contains(QStringLiteral("Quorvane - 2 of 2")),
                 qPrintable(captions.join(u',')));
        QVERIFY(!f.dialogs.messages().join(u' ').contains(QStringLiteral("not kept")));

        FormFixture again;
        again.settings.values.insert(Form1::ReuseHoursKey, QStringLiteral("5"));
        again.load();
        QCOMPARE(again.control<QSpinBox>("ReuseHours")->value(), 5);
    }

    // The window keeps the RDAP bootstrap for its life: the first run waits for the files
    // (here from the folder QUORVANE_RDAP_BOOTSTRAP names, late as over a network) instead of
    // going by the built-in copy, and the next run uses them without fetching again, even
    // when the cache cannot keep them; that it cannot is said once.
    void rdapBootstrapFetchedOnceAndWaitedFor()
    {
        TestHttpServer rdap([](const QByteArray &) {
            TestHttpServer::Response r;
            r.contentType = "application/rdap+json";
            r.body = R"({"objectClassName":"domain","ldhName":"example.test"})";
            return r;
        });
        int fetches = 0;
        TestHttpServer mirror([&](const QByteArray &target) {
            ++fetches;
            TestHttpServer::Response r;
            r.contentType = "application/json";
            r.delayMs = 300;
            const QByteArray services =
                target.endsWith("/dns.json")
                    ? "[[[\"test\"],[\"" + rdap.baseUrl().toUtf8() + "/\"]]]"
                    : QByteArray("[]");
            r.body = R"({"version":"1.0","publication":"2024-01-01T00:00:00Z","services":)" +
                     services + "}";
            return r;
        });
        QTemporaryDir cacheHome;
        QFile notAFolder(cacheHome.filePath(QStringLiteral("Quorvane")));
        QVERIFY(notAFolder.open(QIODevice::WriteOnly));
        const QByteArray keptCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome.path()));
        qputenv("QUORVANE_RDAP_BOOTSTRAP", (mirror.baseUrl() + QStringLiteral("/")).toUtf8());
        FormFixture f;
        setUp(f, QStringLiteral("0"), {QStringLiteral("example.test")});
        f.control<QRadioButton>("Option5")->setChecked(true);
        for (int run = 1; run <= 2; ++run) {
            f.click("PushButton4");
            QTRY_VERIFY_WITH_TIMEOUT(!f.form->isRunning(), 10000);
            QCOMPARE(f.form->results().itemText(1), QStringLiteral("example.test"));
        }
        qunsetenv("QUORVANE_RDAP_BOOTSTRAP");
        qputenv("XDG_CACHE_HOME", keptCache);
        QCOMPARE(rdap.targets.size(), 2);
        QCOMPARE(fetches, 4);
        const QStringList messages = f.dialogs.messages();
        QCOMPARE(messages.size(), 3);
        QVERIFY2(messages[0].startsWith(QStringLiteral("The RDAP bootstrap cannot be kept")),
                 qPrintable(messages[0]));
        QCOMPARE(messages.mid(1), (QStringList{QStringLiteral("Done."), QStringLiteral("Done.")}));
    }

    void stopPutsTheCaptionBackAndRefusesANewStartUntilTheEnd()
    {
        FormFixture f;
        setUp(f, QStringLiteral("0"), {QStringLiteral("slow.com"), QStringLiteral("b.com")});
        auto *start = f.control<QPushButton>("PushButton4");
        f.click("PushButton4");
        QTRY_VERIFY(f.form->currentRun() && f.form->currentRun()->isFetching());
        LookupRun *run = f.form->currentRun();
        // Stop, then an immediate second press: the stopped run must end before a new one.
        f.dialogs.whileShown = [&](const ScriptedDialogs::Shown &) {
            QCOMPARE(start->text(), QStringLiteral("Start Looking Up"));
        };
        f.click("PushButton4");
        QVERIFY(f.form->StopRequested());
        QCOMPARE(start->text(), QStringLiteral("Start Looking Up"));
        f.click("PushButton4");
        QCOMPARE(f.form->currentRun(), run);
        QTRY_VERIFY_WITH_TIMEOUT(!f.form->isRunning(), 3000);
        QCOMPARE(f.dialogs.messages(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(f.form->results().itemCount(), 1);
        QCOMPARE(f.form->results().itemText(1), QStringLiteral("slow.com"));
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    void theNoteNamesTheThreeSites()
    {
        FormFixture f;
        f.load();
        f.click("PushButton7");
        const QString note = f.dialogs.messages().value(0);
        QVERIFY(note.startsWith(
            QStringLiteral(
                "This software is not sophisticated. It accesses an external website (such as ") +
            f.control<QRadioButton>("Option2")->text() + QStringLiteral(", ") +
            f.control<QRadioButton>("Option1")->text() + QStringLiteral(" or ") +
            f.control<QRadioButton>("Option3")->text() + QStringLiteral(") to lookup")));
        // Its words kept, then a paragraph about the registries' sources and their delay.
        const QStringList paragraphs = note.split(QStringLiteral("\n\n"));
        QCOMPARE(paragraphs.size(), 2);
        QVERIFY(paragraphs[0].endsWith(QStringLiteral("to avoid annoying this external website.")));
        QVERIFY(paragraphs[1].startsWith(f.control<QRadioButton>("Option4")->text() +
                                         QStringLiteral(" and ") +
                                         f.control<QRadioButton>("Option5")->text()));
        QVERIFY(paragraphs[1].contains(QStringLiteral("the delay holds per server")));
        QVERIFY(paragraphs[1].contains(QStringLiteral("different servers are asked side by side")));
        QCOMPARE(f.dialogs.shown.value(0).title, QStringLiteral("Quorvane"));
    }
};

QUORVANE_REGISTER_TEST(Form1LookupTests)
#include "tst_form1_lookup.moc"
