#include "../results/xlsxreader.h"
#include "addresses/listviewmodel.h"
#include "formfixture.h"
#include "results/resultstable.h"
#include "scripteddialogs.h"
#include "testregistry.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHostAddress>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A results table of `columns` columns; each row's cells fill columns 1, 2, ... in order.
// A row whose first cell starts with "-" is left unchecked (the "-" is dropped).
void fill(ResultsTable &table, int columns, const QList<QStringList> &rows)
{
    for (int k = table.headerCount() + 1; k <= columns; ++k)
        table.addHeader(u"Field %1"_s.arg(k));
    for (QStringList cells : rows) {
        const bool checked = !cells[0].startsWith(u'-');
        if (!checked)
            cells[0].remove(0, 1);
        const int row = table.AddResultRow(cells[0]);
        for (int k = 1; k < cells.size(); ++k)
            table.setSubItem(row, k, cells[k]);
        table.setChecked(row, checked);
    }
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QList<ScriptedDialogs::Shown> reports(const ScriptedDialogs &dialogs)
{
    QList<ScriptedDialogs::Shown> found;
    for (const auto &shown : dialogs.shown) {
        if (shown.kind == ScriptedDialogs::Kind::Message && shown.title == u"Application Error"_s)
            found.append(shown);
    }
    return found;
}

const QString CopiedMessage =
    u"Results have been copied to the clipboard.\r\rClick a text area where you normally type "
    "and press Ctrl+V to paste the clipboard."_s;
const QString MissingMessage =
    u"Excel is not installed on this computer. You need to have it installed to use this "
    "software without error."_s;
const QString MissingForFeature =
    u"Excel is not installed on this computer. You need to have it installed to use this "
    "feature."_s;

} // namespace

class Form1ExportTests : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_cache;
    QByteArray m_cacheHome;

    QString workbookFolder() const { return m_cache->filePath(u"Quorvane"_s); }
    QStringList workbooks() const
    {
        return QDir(workbookFolder()).entryList({u"*.xlsx"_s}, QDir::Files);
    }

private slots:
    void initTestCase() { m_cacheHome = qgetenv("XDG_CACHE_HOME"); }
    void cleanupTestCase()
    {
        if (m_cacheHome.isEmpty())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", m_cacheHome);
    }

    void init()
    {
        // Workbooks go to the user's cache folder: a fresh one for every test.
        m_cache = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache->path()));
    }

    // ------------------------------------------------------------ text file

    void textFile_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("later empty cells keep their tabs")
            << 3 << QList<QStringList>{{u"abc"_s}} << QByteArray("abc\t\t\r\n");
        QTest::newRow("one column, no tabs")
            << 1 << QList<QStringList>{{u"a"_s}, {u"b"_s}} << QByteArray("a\r\nb\r\n");
        QTest::newRow("every row, checked or not, in UTF-8")
            << 2 << QList<QStringList>{{u"-\u00fc"_s, u"x"_s}, {u"b"_s, u"=c"_s}}
            << QByteArray("\xc3\xbc\tx\r\nb\t=c\r\n");
        QTest::newRow("cells as they stand")
            << 3 << QList<QStringList>{{u"a\tb"_s, QString(), u" c "_s}}
            << QByteArray("a\tb\t\t c \r\n");
        QTest::newRow("no rows, zero bytes") << 2 << QList<QStringList>{} << QByteArray();
    }

    void textFile()
    {
        QFETCH(int, columns);
        QFETCH(QList<QStringList>, rows);
        QFETCH(QByteArray, expected);
        FormFixture f;
        f.load();
        fill(f.form->results(), columns, rows);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"results"_s);
        f.dialogs.saveAnswers = {path};
        f.click("PushButton6");
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, ScriptedDialogs::Kind::Save);
        QCOMPARE(f.dialogs.shown[0].title, u"Save"_s);
        QCOMPARE(f.dialogs.lastFilter,
                 u"Text Files (*.txt);;All Files (*);;CSV with captions (*.csv)"_s);
        QCOMPARE(fileBytes(path), expected);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    void aClickOnACaptionSortsAndTheExportFollows()
    {
        FormFixture f;
        f.load();
        fill(f.form->results(), 2, {{u"b.com"_s, u"2031"_s}, {u"a.com"_s, u"2027"_s}});
        QHeaderView *header = f.control<QTreeView>("ListView2")->header();
        QTemporaryDir dir;
        const QString path = dir.filePath(u"sorted"_s);
        const QList<QByteArray> expected{"a.com\t2027\r\nb.com\t2031\r\n",
                                         "b.com\t2031\r\na.com\t2027\r\n"};
        for (const QByteArray &text : expected) { // ascending, then again for descending
            emit header->sectionClicked(1);
            f.dialogs.saveAnswers = {path};
            f.dialogs.yesNoAnswers = {true};
            f.click("PushButton6");
            QCOMPARE(fileBytes(path), text);
        }
    }

    // A name ending in .csv, or the CSV filter, writes RFC 4180 CSV in UTF-8, captions first.
    void csvWithCaptions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("filter");
        const QByteArray csv = "IP Address(es)/Domain(s),Field 2\r\n\"a,b\",\"say \"\"hi\"\"\"\r\n"
                               "\xc3\xbc,\"two\r\nlines\"\r\n";
        const QByteArray tsv = "a,b\tsay \"hi\"\r\n\xc3\xbc\ttwo\r\nlines\r\n";
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow(".csv name") << u"out.csv"_s << QString() << csv;
        QTest::newRow(".CSV name, text filter") << u"out.CSV"_s << u"Text Files (*.txt)"_s << csv;
        QTest::newRow("CSV filter, other name")
            << u"out.txt"_s << u"CSV with captions (*.csv)"_s << csv;
        QTest::newRow("text name and filter") << u"out.txt"_s << QString() << tsv;
    }

    void csvWithCaptions()
    {
        QFETCH(QString, name);
        QFETCH(QString, filter);
        QFETCH(QByteArray, expected);
        FormFixture f;
        f.load();
        fill(f.form->results(), 2,
             {{u"a,b"_s, u"say \"hi\""_s}, {u"-\u00fc"_s, u"two\r\nlines"_s}});
        QTemporaryDir dir;
        f.dialogs.saveAnswers = {dir.filePath(name)};
        if (!filter.isEmpty())
            f.dialogs.saveFilterAnswers = {filter};
        f.click("PushButton6");
        QCOMPARE(fileBytes(dir.filePath(name)), expected);
        QVERIFY(reports(f.dialogs).isEmpty());
    }

    void overwriteQuestion_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("yes replaces") << true << QByteArray("new\r\n");
        QTest::newRow("no leaves the file") << false << QByteArray("old");
    }

    void overwriteQuestion()
    {
        QFETCH(bool, yes);
        QFETCH(QByteArray, expected);
        FormFixture f;
        f.load();
        fill(f.form->results(), 1, {{u"new"_s}});
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        writeFile(path, "old");
        f.dialogs.saveAnswers = {path};
        f.dialogs.yesNoAnswers = {yes};
        f.form->PushButton6_Click();
        QCOMPARE(f.dialogs.shown.size(), 2);
        QCOMPARE(f.dialogs.shown[1].kind, ScriptedDialogs::Kind::Question);
        QCOMPARE(f.dialogs.shown[1].text,
                 u"Are you sure you wish to overwrite "_s + path + u" ?"_s);
        QCOMPARE(f.dialogs.shown[1].title, f.form->appTitle());
        QCOMPARE(fileBytes(path), expected);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"out.txt"_s});
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    // The dialog opens in the documents folder, then in the folder last saved to.
    void saveDialogStartsInTheLastFolder()
    {
        FormFixture f;
        f.load();
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QTemporaryDir dir;
        f.dialogs.saveAnswers = {dir.filePath(u"out.txt"_s)};
        f.form->PushButton6_Click();
        QCOMPARE(f.dialogs.lastStartFolder,
                 QFileInfo(documents).isDir() ? documents : QDir::homePath());
        f.form->PushButton6_Click(); // cancelled: the folder stays
        f.form->PushButton6_Click();
        QCOMPARE(f.dialogs.lastStartFolder, QDir(dir.path()).absolutePath());
    }

    void cancelledSaveWritesNothing()
    {
        FormFixture f;
        f.load();
        fill(f.form->results(), 1, {{u"a"_s}});
        f.form->PushButton6_Click();
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    void fileThatCannotBeCreatedIsReportedOnce()
    {
        FormFixture f;
        f.load();
        QList<QStringList> rows;
        for (int i = 0; i < 50; ++i)
            rows.append({u"row %1"_s.arg(i), u"x"_s});
        fill(f.form->results(), 2, rows);
        QTemporaryDir dir;
        writeFile(dir.filePath(u"plain"_s), "not a folder");
        f.dialogs.saveAnswers = {dir.filePath(u"plain/out.txt"_s)};
        f.form->PushButton6_Click();
        const auto found = reports(f.dialogs);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found[0].text.contains(
                     u"in Brindlemoor2021/08/31.Form1.PushButton6_Click at line 130\r\r"_s),
                 qPrintable(found[0].text));
        QCOMPARE(found[0].icon, Dialogs::Icon::Warning);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    void failedReplaceKeepsTheOldFile()
    {
        FormFixture f;
        f.load();
        fill(f.form->results(), 2, {{u"a"_s, u"b"_s}, {u"c"_s, u"d"_s}});
        QTemporaryDir dir;
        // The longest name a folder entry takes: the file itself can be written, but the name
        // the finished file passes through on its way in is too long, so the replace fails
        // after all lines are written, even for root.
        const QString path = dir.filePath(QString(251, u'n') + u".txt"_s);
        writeFile(path, "old");
        QVERIFY(QFile::exists(path));
        f.dialogs.saveAnswers = {path};
        f.dialogs.yesNoAnswers = {true};
        f.form->PushButton6_Click();
        const auto found = reports(f.dialogs);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found[0].text.contains(u"Form1.PushButton6_Click at line 154"_s),
                 qPrintable(found[0].text));
        QCOMPARE(fileBytes(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    // ------------------------------------------------------------ clipboard

    void copyToClipboard()
    {
        FormFixture f;
        f.load();
        fill(f.form->results(), 2, {{u"ab"_s, u"c"_s}, {u"-abcde"_s, u"xyz"_s}});
        bool busyWhileShown = false;
        QString clipboardWhileShown;
        f.dialogs.whileShown = [&](const ScriptedDialogs::Shown &) {
            busyWhileShown = f.form->isBusy() && f.form->cursor().shape() == Qt::WaitCursor;
            clipboardWhileShown = f.clipboard.text;
        };
        f.click("PushButton18");
        QCOMPARE(f.dialogs.messages(), QStringList{CopiedMessage});
        QCOMPARE(f.dialogs.shown[0].title, f.form->appTitle());
        QCOMPARE(f.dialogs.shown[0].icon, Dialogs::Icon::None);
        QVERIFY(busyWhileShown);
        QCOMPARE(clipboardWhileShown, u"ab   \tc\r\n"_s);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    // Nothing to copy: a message says why, and the clipboard keeps what it holds.
    void nothingToCopyLeavesTheClipboard_data()
    {
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QString>("says");
        QTest::newRow("empty table") << QList<QStringList>{} << u"no results to copy"_s;
        QTest::newRow("no row ticked") << QList<QStringList>{{u"-a"_s, u"b"_s}, {u"-c"_s}}
                                       << u"right-click the results table and choose Check All"_s;
    }

    void nothingToCopyLeavesTheClipboard()
    {
        QFETCH(QList<QStringList>, rows);
        QFETCH(QString, says);
        FormFixture f;
        f.load();
        fill(f.form->results(), 2, rows);
        f.clipboard.text = u"kept"_s;
        f.click("PushButton18");
        QCOMPARE(f.dialogs.messages().size(), 1);
        QVERIFY2(f.dialogs.messages()[0].contains(says), qPrintable(f.dialogs.messages()[0]));
        QCOMPARE(f.dialogs.shown[0].title, f.form->appTitle());
        QCOMPARE(f.clipboard.text, u"kept"_s);
        QCOMPARE(f.clipboard.clearCalls + f.clipboard.setCalls, 0);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    // ------------------------------------------------------------ spreadsheet

    void spreadsheetMissingGivesTwoMessages()
    {
        FormFixture f;
        f.load();
        fill(f.form->results(), 1, {{u"a"_s}});
        f.spreadsheet.installed = false;
        bool everBusy = false;
        f.dialogs.whileShown = [&](const ScriptedDialogs::Shown &) {
            everBusy = everBusy || f.form->isBusy();
        };
        f.click("PushButton2");
        QCOMPARE(f.dialogs.messages(), (QStringList{MissingMessage, MissingForFeature}));
        QCOMPARE(f.dialogs.shown[0].title, f.form->appTitle());
        QCOMPARE(f.spreadsheet.installedChecks, 1);
        QVERIFY(!everBusy);
        QVERIFY(f.spreadsheet.opened.isEmpty());
        QVERIFY(workbooks().isEmpty());
        QVERIFY(!f.form->SaveResultsAsExcelFileIsExcelInstalled());
    }

    void emptyTableGivesNoWorkbook()
    {
        FormFixture f;
        f.load();
        f.form->PushButton2_Click();
        QCOMPARE(f.spreadsheet.installedChecks, 1);
        QVERIFY(f.dialogs.shown.isEmpty());
        QVERIFY(f.spreadsheet.opened.isEmpty());
        QVERIFY(workbooks().isEmpty());
    }

    void workbookKeepsEveryValueInItsColumn()
    {
        FormFixture f;
        f.load();
        ResultsTable &t = f.form->results();
        t.addHeader(u"Registrar"_s);
        t.addHeader(u"Name Server"_s);
        t.addHeader(u"Note"_s);
        // The first row's Registrar is empty, yet the caption stays above its column.
        fill(t, 4,
             {{u"a.com"_s, QString(), u"ns1"_s, u"x=1"_s},
              {u"-b.com"_s, u"Unchecked Registrar"_s},
              {u"=c.com"_s, QString(), QString(), u"a=b=c"_s}});
        f.click("PushButton2");
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.spreadsheet.opened.size(), 1);
        const QString path = f.spreadsheet.opened[0];
        QCOMPARE(QFileInfo(path).absolutePath(), workbookFolder());
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));

        const XlsxContents sheet = readXlsx(path);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        const QStringList captions{ResultsTable::AddressCaption, u"Registrar"_s, u"Name Server"_s,
                                   u"Note"_s};
        for (int k = 1; k <= 4; ++k)
            QCOMPARE(sheet.text(1, k), captions[k - 1]);
        QCOMPARE(sheet.text(2, 1), u"a.com"_s);
        QVERIFY(!sheet.has(2, 2));
        QCOMPARE(sheet.text(2, 3), u"ns1"_s);
        QCOMPARE(sheet.text(2, 4), u"x=1"_s);
        QCOMPARE(sheet.cellsInRow(3), 0);
        QCOMPARE(sheet.text(4, 1), u"=c.com"_s);
        QCOMPARE(sheet.text(4, 4), u"a=b=c"_s);
        QCOMPARE(sheet.cells.size(), 4 + 3 + 2);
        for (auto it = sheet.cells.begin(); it != sheet.cells.end(); ++it)
            QCOMPARE(it.value().second, u"s"_s);
        QVERIFY(sheet.widths.value(u"A"_s) > ResultsTable::AddressCaption.size());

        // A second export is a new file; the first stays as it was.
        f.form->PushButton2_Click();
        QCOMPARE(f.spreadsheet.opened.size(), 2);
        QVERIFY(f.spreadsheet.opened[1] != path);
        QCOMPARE(workbooks().size(), 2);
    }

    void overlongCellIsCutAndSaidSo()
    {
        FormFixture f;
        f.load();
        fill(f.form->results(), 2, {{u"a.com"_s, QString(33000, u'x')}});
        f.form->PushButton2_Click();
        QCOMPARE(f.spreadsheet.opened.size(), 1);
        QCOMPARE(f.dialogs.messages().size(), 1);
        QVERIFY(f.dialogs.messages()[0].contains(u"1 cells longer than 32767 characters"_s));
        QVERIFY(reports(f.dialogs).isEmpty());
        const XlsxContents sheet = readXlsx(f.spreadsheet.opened[0]);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.text(2, 2).size(), 32767);
    }

    void workbookFailureReportedOnce_data()
    {
        QTest::addColumn<bool>("folderUnderAFile");
        QTest::addColumn<int>("line");
        QTest::newRow("cache folder under a regular file") << true << 112;
        QTest::newRow("opener fails") << false << 174;
    }

    void workbookFailureReportedOnce()
    {
        QFETCH(bool, folderUnderAFile);
        QFETCH(int, line);
        FormFixture f;
        f.load();
        QList<QStringList> rows;
        for (int i = 0; i < 20; ++i)
            rows.append({u"row %1"_s.arg(i), u"x"_s});
        fill(f.form->results(), 2, rows);
        if (folderUnderAFile) {
            writeFile(m_cache->filePath(u"plain"_s), "not a folder");
            qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache->filePath(u"plain"_s)));
        }
        f.spreadsheet.succeed = false;
        f.form->PushButton2_Click();
        const auto found = reports(f.dialogs);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found[0].text.contains(u"Form1.PushButton2_Click at line %1\r"_s.arg(line)),
                 qPrintable(found[0].text));
        QCOMPARE(f.spreadsheet.opened.size(), folderUnderAFile ? 0 : 1);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    // ------------------------------------------------------------ results cleared meanwhile

    void resultsClearedWhileExporting_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<int>("line");
        QTest::newRow("text file") << u"PushButton6_Click"_s << 142;
        QTest::newRow("clipboard") << u"PushButton18_Click"_s << 110;
    }

    void resultsClearedWhileExporting()
    {
        QFETCH(QString, handler);
        QFETCH(int, line);
        FormFixture f;
        f.load();
        fill(f.form->results(), 2, {{u"a"_s, u"b"_s}, {u"c"_s, u"d"_s}});
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        writeFile(path, "old");
        f.dialogs.saveAnswers = {path};
        f.dialogs.yesNoAnswers = {true};
        f.clipboard.text = u"kept"_s;
        // "Clear Results" pressed while the export lets events run.
        QTimer::singleShot(0, f.form.get(), [&] { f.form->PushButton9_Click(); });
        QVERIFY(QMetaObject::invokeMethod(f.form.get(), handler.toLatin1().constData()));
        QCOMPARE(f.form->results().itemCount(), 0);
        const auto found = reports(f.dialogs);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found[0].text.contains(u"Form1.%1 at line %2\r"_s.arg(handler).arg(line)),
                 qPrintable(found[0].text));
        // Nothing half-done: the old file and the clipboard are as they were.
        QCOMPARE(fileBytes(path), QByteArray("old"));
        QCOMPARE(f.clipboard.text, u"kept"_s);
        QCOMPARE(f.form->pointer(), int(Form1::Arrow));
    }

    // ------------------------------------------------------------ during a lookup run

    void exportsRefusedWhileALookupRuns()
    {
        // A whois site that takes the request and never answers keeps the run going.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        qputenv("QUORVANE_SITE2_URL", u"http://127.0.0.1:%1/"_s.arg(silent.serverPort()).toUtf8());
        FormFixture f;
        f.load();
        f.form->addressList().addItem(u"a.com"_s);
        f.control<QLineEdit>("Text1")->setText(u"0"_s);
        f.click("PushButton4");
        QTRY_VERIFY(f.form->isRunning() && f.form->results().itemCount() == 1);
        f.form->results().setChecked(1, true);

        QTemporaryDir dir;
        f.dialogs.saveAnswers = {dir.filePath(u"out.txt"_s)};
        f.form->PushButton6_Click();
        f.form->PushButton18_Click();
        f.form->PushButton2_Click();
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.dialogs.saveAnswers.size(), 1);
        QCOMPARE(f.clipboard.clearCalls + f.clipboard.setCalls, 0);
        QCOMPARE(f.spreadsheet.installedChecks, 0);

        f.click("PushButton4"); // stop
        QTRY_VERIFY_WITH_TIMEOUT(!f.form->isRunning(), 15000);
        qunsetenv("QUORVANE_SITE2_URL");
    }
};

QUORVANE_REGISTER_TEST(Form1ExportTests)
#include "tst_form1_exports.moc"
