#include "platform/clipboard.h"
#include "platform/runtimeerror.h"
#include "results/clipboardcopy.h"
#include "results/pivot.h"
#include "results/resultsworkbook.h"
#include "results/textexport.h"
#include "results/textexportfile.h"
#include "scriptedclipboard.h"
#include "testregistry.h"
#include "xlsxreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Row
{
    QStringList cells;
    bool checked = true;
};

// A table with `columns` columns and the rows given; a row's cells fill columns 0, 1, ... in
// order. Every row is ticked unless it says otherwise.
struct Table
{
    Pivot pivot;
    std::vector<bool> checked;
};

std::unique_ptr<Table> makeTable(int columns, const QList<Row> &rows)
{
    auto table = std::make_unique<Table>();
    for (int k = 1; k <= columns; ++k)
        table->pivot.addColumn(QStringLiteral("Column %1").arg(k));
    for (const Row &row : rows) {
        const qsizetype index = table->pivot.addRow(row.cells.value(0));
        for (int k = 1; k < row.cells.size(); ++k)
            table->pivot.place(index, {{table->pivot.caption(k), row.cells[k]}});
        table->checked.push_back(row.checked);
    }
    return table;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

Q_DECLARE_METATYPE(QList<Row>)

class ExportTests : public QObject
{
    Q_OBJECT
private slots:
    // ------------------------------------------------------------ clipboard text

    void clipboardText_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QList<Row>>("rows");
        QTest::addColumn<QString>("expected");

        // Widths 5 and 3; the padding of the last cell is stripped.
        QTest::newRow("padded to the column width")
            << 2 << QList<Row>{{{u"ab"_s, u"c"_s}}, {{u"abcde"_s, u"xyz"_s}, false}}
            << u"ab   \tc\r\n"_s;
        QTest::newRow("an unchecked row's long cell widens its column")
            << 2 << QList<Row>{{{u"a"_s, u"b"_s}}, {{u"longest"_s, u"x"_s}, false}}
            << u"a      \tb\r\n"_s;
        QTest::newRow("an empty last cell ends the line with a tab")
            << 2 << QList<Row>{{{u"abc"_s, QString()}}, {{u"x"_s, u"wxyz"_s}, false}}
            << u"abc\t\r\n"_s;
        QTest::newRow("spaces ending the last cell's own text go too")
            << 2 << QList<Row>{{{u"a"_s, u"b  "_s}}} << u"a\tb\r\n"_s;
        QTest::newRow("only checked rows, in row order")
            << 2 << QList<Row>{{{u"1"_s, u"x"_s}}, {{u"2"_s, u"y"_s}, false}, {{u"3"_s, u"z"_s}}}
            << u"1\tx\r\n3\tz\r\n"_s;
        QTest::newRow("no row checked gives the empty text")
            << 2 << QList<Row>{{{u"a"_s, u"b"_s}, false}} << QString();
        QTest::newRow("widths count characters, not bytes")
            << 2 << QList<Row>{{{u"\u00e4\u00f6"_s, u"b"_s}}, {{u"abc"_s, u"c"_s}, false}}
            << u"\u00e4\u00f6 \tb\r\n"_s;
        QTest::newRow("tabs and line breaks inside cells pass through")
            << 3 << QList<Row>{{{u"a\tb"_s, u"c\r\nd"_s, u"e"_s}}} << u"a\tb\tc\r\nd\te\r\n"_s;
        QTest::newRow("a character beyond U+FFFF is two units wide")
            << 2 << QList<Row>{{{u"\U0001F600"_s, u"b"_s}}, {{u"abc"_s, u"c"_s}, false}}
            << u"\U0001F600 \tb\r\n"_s;
        QTest::newRow("ASCII and non-ASCII lines share the widths")
            << 2 << QList<Row>{{{u"\u00e4"_s, u"1"_s}}, {{u"abc"_s, u"22"_s}}}
            << u"\u00e4  \t1\r\nabc\t22\r\n"_s;
        QTest::newRow("an empty cell between filled ones is padded")
            << 3 << QList<Row>{{{u"a"_s, QString(), u"c"_s}}, {{u"a"_s, u"wide"_s, u"c"_s}, false}}
            << u"a\t    \tc\r\n"_s;
        QTest::newRow("a leading byte-order mark is kept")
            << 2 << QList<Row>{{{u"\uFEFFa"_s, u"b"_s}}} << u"\uFEFFa\tb\r\n"_s;
        QTest::newRow("a long cell pads its column")
            << 2 << QList<Row>{{{u"x"_s, u"y"_s}}, {{QString(70, u'L'), u"z"_s}, false}}
            << u"x"_s + QString(69, u' ') + u"\ty\r\n"_s;
    }

    void clipboardText()
    {
        QFETCH(int, columns);
        QFETCH(QList<Row>, rows);
        QFETCH(QString, expected);
        const auto table = makeTable(columns, rows);
        ScriptedClipboard clipboard;
        clipboard.text = u"old"_s;
        TableToClipboard(table->pivot, table->checked, clipboard);
        QCOMPARE(clipboard.text, expected);
        QVERIFY(clipboard.hasText);
        QCOMPARE(clipboard.clearCalls, 1);
        QCOMPARE(clipboard.setCalls, 1);
    }

    void clipboardTextOfBytesThatAreNotUtf8()
    {
        // Stored bytes that are not UTF-8 are measured as they are but shown decoded: replacement
        // characters can make a line longer than the widths allow for.
        Pivot pivot;
        pivot.reset();
        pivot.addColumn(u"f"_s);
        pivot.addRow(u"a"_s);
        const qsizetype row = pivot.addRow(u"b"_s);
        const QByteArray bytes = QByteArray(40, '\x80') + "\xF0" + "c";
        RecordFields fields;
        fields.append("f", bytes);
        pivot.place(row, fields);
        const auto text = ClipboardText(pivot, {true, true});
        QVERIFY(text);
        QCOMPARE(*text, QString::fromUtf8("a\t\r\nb\t" + bytes + "\r\n"));
    }

    void clipboardRetry_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("clearCalls");
        QTest::addColumn<int>("setCalls");
        QTest::addColumn<bool>("placed");
        QTest::newRow("free at once") << 0 << 1 << 1 << true;
        QTest::newRow("free at the last attempt") << 999 << 1000 << 1 << true;
        QTest::newRow("clear gives up, set works") << 1000 << 1000 << 1 << true;
        QTest::newRow("set gives up after 1000") << 2000 << 1000 << 1000 << false;
    }

    void clipboardRetry()
    {
        QFETCH(int, failures);
        QFETCH(int, clearCalls);
        QFETCH(int, setCalls);
        QFETCH(bool, placed);
        ScriptedClipboard clipboard;
        clipboard.failuresLeft = failures;
        ClearClipboardWithRetry(clipboard);
        QCOMPARE(SetClipboardTextWithRetry(clipboard, u"t"_s), placed);
        QCOMPARE(clipboard.clearCalls, clearCalls);
        QCOMPARE(clipboard.setCalls, setCalls);
        QCOMPARE(clipboard.text, placed ? u"t"_s : QString());
    }

    void rowsVanishingDuringTheCopyLeaveTheClipboard()
    {
        const auto table = makeTable(2, {{{u"a"_s, u"b"_s}}, {{u"c"_s, u"d"_s}}});
        ScriptedClipboard clipboard;
        clipboard.text = u"kept"_s;
        int steps = 0;
        // The user clears the results while the copy lets events run.
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 TableToClipboard(table->pivot, table->checked, clipboard, [&] {
                                     if (++steps == 2)
                                         table->pivot.clearRows();
                                 }));
        QCOMPARE(clipboard.text, u"kept"_s);
        QCOMPARE(clipboard.clearCalls + clipboard.setCalls, 0);
    }

    void columnAddedAfterTheWidthPassFails()
    {
        const auto table = makeTable(1, {{{u"a"_s}}});
        ScriptedClipboard clipboard;
        int steps = 0;
        // Step 1 reads the one row of the width pass; step 2 starts the text pass.
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 TableToClipboard(table->pivot, table->checked, clipboard, [&] {
                                     if (++steps == 2)
                                         table->pivot.addColumn(u"late"_s);
                                 }));
        QCOMPARE(table->pivot.columnCount(), 2);
        QCOMPARE(clipboard.setCalls, 0);
    }

    // ------------------------------------------------------------ text file

    void textLineCopiesCellsOfEveryLength()
    {
        // Cells of 1 to 70 bytes, each column's text longer by one, so that every way a cell is
        // copied into the line is taken; two empty cells, one inside the line and one at its end.
        Pivot pivot;
        pivot.reset();
        QStringList cells{u"address"_s};
        for (int k = 1; k <= 71; ++k) {
            pivot.addColumn(u"c%1"_s.arg(k));
            cells.append(k == 35 || k == 71 ? QString() : QString(k, QChar(u'a' + k % 26)));
        }
        const qsizetype row = pivot.addRow(cells[0]);
        for (int k = 1; k <= 71; ++k)
            pivot.setCell(row, k, cells[k]);
        QCOMPARE(rowLine(pivot, row, TextFormat::Tsv), (cells.join(u'\t') + u"\r\n"_s).toUtf8());
    }

    // Escaped tab-separated values: a backslash, tab, LF or CR inside a cell (or a caption) is
    // written as its escape, so a line has exactly one field per column; LF ends it.
    void escapedTsvLine_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("plain") << u"ns1.example"_s << "ns1.example"_ba;
        QTest::newRow("tab-joined values") << u"ns1\tns2"_s << "ns1\\tns2"_ba;
        QTest::newRow("line ends") << u"a\r\nb\nc\rd"_s << "a\\r\\nb\\nc\\rd"_ba;
        QTest::newRow("backslash") << u"C:\\path\\t"_s << "C:\\\\path\\\\t"_ba;
        QTest::newRow("long, escapes at both ends")
            << u"\t"_s + QString(40, u'x') + u"\\"_s << "\\t"_ba + QByteArray(40, 'x') + "\\\\";
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void escapedTsvLine()
    {
        QFETCH(QString, cell);
        QFETCH(QByteArray, written);
        Pivot pivot;
        pivot.reset();
        pivot.addColumn(u"Note\tkind"_s);
        pivot.addColumn(u"Last"_s);
        const qsizetype row = pivot.addRow(u"a\\b"_s);
        pivot.setCell(row, 1, cell);
        pivot.setCell(row, 2, u"end"_s);
        QCOMPARE(rowLine(pivot, row, TextFormat::EscapedTsv), "a\\\\b\t" + written + "\tend\n");
        QCOMPARE(captionLine(pivot, TextFormat::EscapedTsv),
                 Pivot::AddressCaption.toUtf8() + "\tNote\\tkind\tLast\n");
    }

    void textFileCancelledLeavesTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents");
        old.close();
        {
            TextExportFile file(path);
            file.open();
            file.writeBytes("new\r\n");
            file.cancel();
        }
        QCOMPARE(fileBytes(path), QByteArray("old contents"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"out.txt"_s});
    }

    void textFileReplacesTheTargetOnlyWhenComplete()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents");
        old.close();
        const auto table = makeTable(2, {{{u"a"_s, u"b"_s}}, {{u"c"_s, u"d,e"_s}}});
        QByteArray targetWhileWriting;
        const auto failed = writeTableTextFile(table->pivot, path, TextFormat::Csv, true,
                                               [&] { targetWhileWriting = fileBytes(path); });
        QVERIFY(!failed);
        // The lines went to a temporary file meanwhile; the target was replaced only at the end.
        QCOMPARE(targetWhileWriting, QByteArray("old contents"));
        QCOMPARE(fileBytes(path), QByteArray("Column 1,Column 2\r\na,b\r\nc,\"d,e\"\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"out.txt"_s});
    }

    // ------------------------------------------------------------ workbook

    void workbookCellsAreStringsInTheirOwnColumns()
    {
        QTemporaryDir dir;
        const QString path = ResultsWorkbook::newFilePath(dir.filePath(u"cache/Quorvane"_s));
        const QStringList values{u"=1+2"_s,
                                 u"a=b=c"_s,
                                 u"+SUM(A1)"_s,
                                 u"0042"_s,
                                 u"3.5"_s,
                                 u"2021-08-31"_s,
                                 u"_x0041_ stays"_s,
                                 u"tab\there"_s,
                                 u"two\r\nlines"_s,
                                 u"bell \u0001 nul "_s + QChar(0) + u" end"_s,
                                 u"\u00fc \U0001F600"_s,
                                 u"  spaced  "_s};
        {
            ResultsWorkbook book(path);
            book.addSheet();
            book.writeCell(1, 1, u"Caption"_s);
            for (int k = 0; k < values.size(); ++k)
                book.writeCell(2, k + 1, values[k]);
            // An empty text leaves its cell empty; row 3 stays empty altogether.
            book.writeCell(4, 1, QString());
            book.writeCell(4, 3, u"c"_s);
            book.fitColumns();
            book.save();
            QVERIFY(book.notice().isEmpty());
        }
        const XlsxContents sheet = readXlsx(path);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.sheets, 1);
        QCOMPARE(sheet.text(1, 1), u"Caption"_s);
        for (int k = 0; k < values.size(); ++k) {
            QCOMPARE(sheet.text(2, k + 1), values[k]);
            QCOMPARE(sheet.type(2, k + 1), u"s"_s);
        }
        QCOMPARE(sheet.cellsInRow(3), 0);
        QVERIFY(!sheet.has(4, 1));
        QCOMPARE(sheet.text(4, 3), u"c"_s);
        QCOMPARE(sheet.cells.size(), 1 + values.size() + 1);
    }

    void workbookColumnsFitTheirLongestLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"w.xlsx"_s);
        {
            ResultsWorkbook book(path);
            book.addSheet();
            book.writeCell(1, 1, u"abc"_s);
            book.writeCell(1, 2, QString(40, u'x'));
            book.writeCell(1, 3, QString(QString(10, u'y') + u"\r\n"_s + QString(20, u'z')));
            book.writeCell(1, 5, QString(1000, u'w'));
            book.fitColumns();
            book.save();
        }
        const XlsxContents sheet = readXlsx(path);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        const double a = sheet.widths.value(u"A"_s);
        const double b = sheet.widths.value(u"B"_s);
        const double c = sheet.widths.value(u"C"_s);
        QVERIFY2(a > 3 && a < 6, qPrintable(QString::number(a)));
        QVERIFY2(b > 40 && b < 43, qPrintable(QString::number(b)));
        // The longer of the two lines, not the whole text.
        QVERIFY2(c > 20 && c < 23, qPrintable(QString::number(c)));
        QVERIFY(!sheet.widths.contains(u"D"_s));
        QVERIFY(sheet.widths.value(u"E"_s) <= ResultsWorkbook::MaxColumnWidth + 1);
    }

    void workbookLeavesOutWhatASheetCannotHold()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"w.xlsx"_s);
        const QString emoji = u"\U0001F600"_s;
        QString notice;
        {
            ResultsWorkbook book(path, ResultsWorkbook::Limits{3, 2, 5});
            book.addSheet();
            book.writeCell(1, 1, u"12345"_s);
            book.writeCell(1, 2, u"1234567"_s);
            book.writeCell(1, 3, u"beyond"_s);
            book.writeCell(1, 4, u"beyond"_s);
            // The cut does not split a surrogate pair.
            book.writeCell(2, 1, QString(u"abcd"_s + emoji));
            book.writeCell(3, 1, u"last"_s);
            book.writeCell(4, 1, u"beyond"_s);
            book.writeCell(4, 2, u"beyond"_s);
            book.writeCell(5, 1, u"beyond"_s);
            book.save();
            notice = book.notice();
            QCOMPARE(book.columnsLeftOut(), 2);
            QCOMPARE(book.rowsLeftOut(), 2);
            QCOMPARE(book.cellsCut(), 2);
        }
        QVERIFY(notice.contains(u"2 columns beyond column 2"_s));
        QVERIFY(notice.contains(u"2 rows beyond sheet row 3"_s));
        QVERIFY(notice.contains(u"2 cells longer than 5 characters"_s));
        const XlsxContents sheet = readXlsx(path);
        QVERIFY2(sheet.error.isEmpty(), qPrintable(sheet.error));
        QCOMPARE(sheet.text(1, 1), u"12345"_s);
        QCOMPARE(sheet.text(1, 2), u"12345"_s);
        QCOMPARE(sheet.text(2, 1), u"abcd"_s);
        QCOMPARE(sheet.text(3, 1), u"last"_s);
        QCOMPARE(sheet.cells.size(), 4);
    }

    void workbookNotSavedLeavesNoFile()
    {
        QTemporaryDir dir;
        const QString path = ResultsWorkbook::newFilePath(dir.path());
        {
            ResultsWorkbook book(path);
            book.addSheet();
            book.writeCell(1, 1, u"dropped"_s);
        }
        QVERIFY(!QFile::exists(path));
    }

    // A workbook under way (or one whose export was killed) shows under no workbook name; the
    // finished one appears whole, under its name.
    void workbookShowsOnlyWhenComplete()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"Quorvane"_s);
        const QString path = ResultsWorkbook::newFilePath(folder);
        const QStringList xlsx{u"*.xlsx"_s};
        ResultsWorkbook book(path);
        book.addSheet();
        book.writeCell(1, 1, u"whole"_s);
        QCOMPARE(QDir(folder).entryList(xlsx, QDir::Files | QDir::Hidden), QStringList());
        book.save();
        QCOMPARE(book.path(), path);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(path).fileName()});
        QCOMPARE(readXlsx(path).text(1, 1), u"whole"_s);
    }

    // Two exports started in the same second, after an earlier one of that second: each keeps
    // its own file.
    void exportsInTheSameSecondKeepTheirOwnFiles()
    {
        QTemporaryDir dir;
        const QString path = ResultsWorkbook::newFilePath(dir.path());
        ResultsWorkbook first(path);
        ResultsWorkbook second(path);
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier export");
        earlier.close();
        for (ResultsWorkbook *book : {&first, &second}) {
            book->addSheet();
            book->writeCell(1, 1, book == &first ? u"first"_s : u"second"_s);
        }
        second.save();
        first.save();
        const QString stem = path.chopped(5);
        QCOMPARE(second.path(), stem + u" (2).xlsx"_s);
        QCOMPARE(first.path(), stem + u" (3).xlsx"_s);
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("earlier export"));
        QCOMPARE(readXlsx(first.path()).text(1, 1), u"first"_s);
        QCOMPARE(readXlsx(second.path()).text(1, 1), u"second"_s);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

    void workbookThatCannotBeWrittenThrowsAndLeavesNoFile()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"gone"_s);
        const QString path = ResultsWorkbook::newFilePath(folder);
        ResultsWorkbook book(path);
        book.addSheet();
        book.writeCell(1, 1, u"x"_s);
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, book.save());
        QVERIFY(!QFile::exists(path));
    }
};

QUORVANE_REGISTER_TEST(ExportTests)
#include "tst_exports.moc"
