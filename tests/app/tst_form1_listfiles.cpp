#include "addresses/addresslist.h"
#include "addresses/listviewmodel.h"
#include "app/errorreport.h"
#include "formfixture.h"
#include "memorysettingsstore.h"
#include "scripteddialogs.h"
#include "shell/checkonline.h"
#include "testregistry.h"

#include <QFile>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

QStringList entriesOf(ListViewModel &list)
{
    QStringList out;
    for (int i = 1; i <= list.itemCount(); ++i)
        out << list.itemText(i);
    return out;
}

QString writeList(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

qsizetype addressWrites(const MemorySettingsStore &settings)
{
    return settings.writtenKeys.count(AddressList::SettingsKey);
}

} // namespace

class Form1ListFileTests : public QObject
{
    Q_OBJECT

private slots:
    void startupCheck_data()
    {
        QTest::addColumn<QString>("pingOutput");
        QTest::addColumn<bool>("warned");
        QTest::newRow("reply") << u"64 bytes from 1.2.3.4: icmp_seq=1 ttl=57 time=1.0 ms"_s
                               << false;
        QTest::newRow("no reply") << u"1 packets transmitted, 0 received"_s << true;
    }

    void startupCheck()
    {
        QFETCH(QString, pingOutput);
        QFETCH(bool, warned);
        FormFixture f;
        f.commands.output = pingOutput;
        Form1 &form = f.load();
        QCOMPARE(f.commands.commandLines.size(), 1);
        QCOMPARE(f.commands.commandLines[0], Connectivity::pingCommandLine());
        QCOMPARE(f.dialogs.messages(),
                 warned ? QStringList{Connectivity::OfflineWarning} : QStringList());
        if (warned) {
            QCOMPARE(f.dialogs.shown[0].icon, Dialogs::Icon::None);
            // Still the built-in title: the check runs before the title is set.
            QCOMPARE(f.dialogs.shown[0].title, u"Quorvane"_s);
        }
        // Start-up carries on after the check.
        QCOMPARE(form.windowTitle(), u"Quorvane"_s);
    }

    void cancelledDialogLoadsNothing()
    {
        FormFixture f;
        Form1 &form = f.load();
        form.addressList().addItem(u"kept"_s);
        const qsizetype writes = addressWrites(f.settings);
        int pointerDuringDialog = -1;
        f.dialogs.whileShown = [&](const ScriptedDialogs::Shown &) {
            pointerDuringDialog = form.pointer();
        };
        f.click("PushButton3");
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, ScriptedDialogs::Kind::Open);
        QCOMPARE(f.dialogs.shown[0].text,
                 u"Load List(s) - Hold Ctrl to select multiple list files"_s);
        QCOMPARE(f.dialogs.lastFilter, u"Text Files (*.txt);;All Files (*)"_s);
        QCOMPARE(pointerDuringDialog, int(Form1::Arrow));
        QCOMPARE(form.pointer(), int(Form1::Arrow));
        QCOMPARE(entriesOf(form.addressList()), QStringList{u"kept"_s});
        QCOMPARE(addressWrites(f.settings), writes);
    }

    // Files load in the dialog's order; a missing one is reported and skipped; the list is
    // saved once at the end.
    void severalFilesInOrder()
    {
        FormFixture f;
        Form1 &form = f.load();
        QTemporaryDir dir;
        const QString a = writeList(dir, u"b-first.txt"_s, "a1\r\n\r\n  a3\r\n");
        const QString c = writeList(dir, u"a-last.txt"_s, "c1\nc2");
        const QString empty = writeList(dir, u"empty.txt"_s, {});
        form.addressList().addItem(u"existing"_s);
        const qsizetype writes = addressWrites(f.settings);
        f.dialogs.openAnswers.append({a, dir.filePath(u"missing.txt"_s), empty, c});
        int pointerAtMessage = -1;
        f.dialogs.whileShown = [&](const ScriptedDialogs::Shown &shown) {
            if (shown.kind == ScriptedDialogs::Kind::Message)
                pointerAtMessage = form.pointer();
        };

        f.click("PushButton3");

        const QStringList expected{u"existing"_s, u"a1"_s, QString(), u"  a3"_s, u"c1"_s, u"c2"_s};
        QCOMPARE(entriesOf(form.addressList()), expected);
        QCOMPARE(f.dialogs.messages(), QStringList{u"File not found"_s});
        QCOMPARE(pointerAtMessage, int(Form1::Hourglass));
        QCOMPARE(form.pointer(), int(Form1::Arrow));
        // Written once, when the load has ended.
        QTRY_COMPARE_WITH_TIMEOUT(addressWrites(f.settings), writes + 1, 5000);
        QCOMPARE(f.settings.values.value(AddressList::SettingsKey),
                 AddressList::savedForm(form.addressList()));
    }

    void oneFileTwiceAppendsTwice()
    {
        FormFixture f;
        Form1 &form = f.load();
        QTemporaryDir dir;
        const QString path = writeList(dir, u"l.txt"_s, "x\ny\n");
        f.dialogs.openAnswers.append({path});
        f.dialogs.openAnswers.append({path});
        f.click("PushButton3");
        f.click("PushButton3");
        QCOMPARE(entriesOf(form.addressList()), (QStringList{u"x"_s, u"y"_s, u"x"_s, u"y"_s}));
        QVERIFY(f.dialogs.messages().isEmpty());
    }

    // A file that is no list (NUL bytes, no UTF-16 mark) is named in one message and adds
    // nothing; its neighbours, UTF-16 among them, still load.
    void binaryFileRefusedWhileItsNeighboursLoad()
    {
        FormFixture f;
        Form1 &form = f.load();
        QTemporaryDir dir;
        const QString before = writeList(dir, u"before.txt"_s, "a\n");
        const QString binary = writeList(dir, u"photo.txt"_s, "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"_ba);
        const QString utf16 = writeList(dir, u"wide.txt"_s, "\xFF\xFEw\0.\0d\0e\0\r\0\n\0"_ba);
        f.dialogs.openAnswers.append({before, binary, utf16});
        f.click("PushButton3");
        QCOMPARE(entriesOf(form.addressList()), (QStringList{u"a"_s, u"w.de"_s}));
        QCOMPARE(f.dialogs.messages().size(), 1);
        QVERIFY2(f.dialogs.messages()[0].startsWith(binary), qPrintable(f.dialogs.messages()[0]));
        QTRY_COMPARE_WITH_TIMEOUT(f.settings.values.value(AddressList::SettingsKey), u"a;w.de"_s,
                                  5000);
    }

    // A file that cannot be read is reported under the statement that loaded it; the other
    // files still load and the pointer comes back.
    void unreadableFileIsReported_data()
    {
        QTest::addColumn<bool>("alone");
        QTest::addColumn<int>("statement");
        QTest::newRow("single") << true << 118;
        QTest::newRow("in the loop") << false << 132;
    }

    void unreadableFileIsReported()
    {
        QFETCH(bool, alone);
        QFETCH(int, statement);
        FormFixture f;
        Form1 &form = f.load();
        QTemporaryDir dir;
        const QString good = writeList(dir, u"good.txt"_s, "g\n");
        f.dialogs.openAnswers.append(alone ? QStringList{dir.path()}
                                           : QStringList{dir.path(), good});
        f.click("PushButton3");
        QCOMPARE(f.dialogs.shown.size(), 2);
        const ScriptedDialogs::Shown &report = f.dialogs.shown[1];
        QCOMPARE(report.title, ErrorReporter::Title);
        QVERIFY2(report.text.contains(u"Form1.PushButton3_Click at line "_s +
                                      QString::number(statement) + u"\r\r"_s),
                 qPrintable(report.text));
        QCOMPARE(entriesOf(form.addressList()), alone ? QStringList() : QStringList{u"g"_s});
        QCOMPARE(form.pointer(), int(Form1::Arrow));
    }

    // Closing the window in the middle of a load stops it: the rest of the file and the next
    // file are left, and the list saved by the close is not written over.
    void closeStopsLoading()
    {
        FormFixture f;
        Form1 &form = f.load();
        QTemporaryDir dir;
        // Long enough that reading it takes several of the load's slices.
        const int lines = 4000000;
        const auto line = [](int i) -> QByteArray {
            return "10.0." + QByteArray::number(i / 256 % 256) + '.' + QByteArray::number(i % 256);
        };
        QByteArray big;
        big.reserve(qsizetype(lines) * 13);
        for (int i = 0; i < lines; ++i)
            big += line(i) + '\n';
        const QString bigPath = writeList(dir, u"big.txt"_s, big);
        const QString next = writeList(dir, u"next.txt"_s, "next\n");
        f.dialogs.openAnswers.append({bigPath, next});
        const qsizetype writes = addressWrites(f.settings);
        QTimer::singleShot(0, &form, [&] { form.close(); });

        f.click("PushButton3");

        const int loaded = form.addressList().itemCount();
        QVERIFY2(loaded < lines, qPrintable(QString::number(loaded)));
        if (loaded > 0)
            QCOMPARE(form.addressList().itemText(loaded), QString::fromLatin1(line(loaded - 1)));
        QCOMPARE(addressWrites(f.settings), writes + 1);
        QCOMPARE(f.settings.values.value(AddressList::SettingsKey),
                 AddressList::savedForm(form.addressList()));
        QCOMPARE(form.pointer(), int(Form1::Arrow));
    }
};

QUORVANE_REGISTER_TEST(Form1ListFileTests)
#include "tst_form1_listfiles.moc"
