// The pivot's compact storage: every edit checked against a plain reference of the same cells,
// and the cases where UTF-8 storage could go wrong.

#include "results/pivot.h"
#include "results/textexport.h"
#include "testregistry.h"

#include <QTest>

#include <map>

using namespace Qt::StringLiterals;

namespace {

// What a row should hold, column by column.
using Reference = std::map<int, QString>;

void compareRow(const Pivot &pivot, qsizetype row, const Reference &expected)
{
    Reference actual;
    pivot.forEachCell(row, [&](int column, QByteArrayView text) {
        QVERIFY(!text.isEmpty());
        actual[column] = textFromUtf8(text);
    });
    for (const auto &[column, text] : expected) {
        if (column > 0 && !text.isEmpty())
            QCOMPARE(pivot.cell(row, column), text);
    }
    Reference filled;
    for (const auto &[column, text] : expected) {
        if (column > 0 && !text.isEmpty())
            filled[column] = text;
    }
    QCOMPARE(actual, filled);
    QCOMPARE(pivot.cellCount(row), int(filled.size()));
}

} // namespace

class PivotStorageTests : public QObject
{
    Q_OBJECT

private slots:
    // Cells set one by one in an order that inserts before, between and after others, empties
    // some (an empty cell between filled ones) and fills them again.
    void editsAgainstAReference_data()
    {
        QTest::addColumn<QList<int>>("columns");
        QTest::newRow("ascending") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8};
        QTest::newRow("descending") << QList<int>{8, 7, 6, 5, 4, 3, 2, 1};
        QTest::newRow("gaps and returns") << QList<int>{5, 1, 9, 3, 5, 1, 7, 2, 9, 3};
    }

    void editsAgainstAReference()
    {
        QFETCH(QList<int>, columns);
        Pivot pivot;
        pivot.reset();
        for (int k = 1; k < 10; ++k)
            pivot.addColumn(u"c%1"_s.arg(k));
        const qsizetype row = pivot.addRow(u"addr"_s);
        Reference reference{{0, u"addr"_s}};
        for (int step = 0; step < columns.size(); ++step) {
            const int column = columns[step];
            // Every third edit empties the cell; the others write a text of varying length.
            const QString text =
                step % 3 == 2 ? QString() : QString(step * 7 + 1, QChar(u'a' + step));
            pivot.setCell(row, column, text);
            reference[column] = text;
            compareRow(pivot, row, reference);
            QCOMPARE(pivot.cell(row, 0), u"addr"_s);
        }
        // The row is trimmed when the next one comes, and grows again afterwards.
        pivot.addRow(u"next"_s);
        pivot.setCell(row, 4, u"after the trim"_s);
        reference[4] = u"after the trim"_s;
        pivot.setCell(row, 9, QString(1000, u'z'));
        reference[9] = QString(1000, u'z');
        compareRow(pivot, row, reference);
        pivot.markInvalid(row);
        QCOMPARE(pivot.cell(row, 0), Pivot::InvalidPrefix + u"addr"_s);
        compareRow(pivot, row, reference);
        QCOMPARE(pivot.cell(row + 1, 0), u"next"_s);
        QCOMPARE(pivot.cellCount(row + 1), 0);
    }

    // A record placed in one step gives the same row as its fields placed one by one.
    void recordAtOnceEqualsFieldByField()
    {
        const RecordFields record{{u"B"_s, u"2"_s},
                                  {u"A"_s, u"1"_s},
                                  {u"B"_s, u""_s},
                                  {u"C"_s, u""_s},
                                  {u"C"_s, u"3"_s},
                                  {u" a "_s, u" x "_s},
                                  {u"D"_s, u"\u00e9\U0001F600"_s}};
        Pivot atOnce;
        atOnce.reset();
        Pivot oneByOne;
        oneByOne.reset();
        atOnce.place(atOnce.addRow(u"r"_s), record);
        const qsizetype row = oneByOne.addRow(u"r"_s);
        for (qsizetype i = 0; i < record.size(); ++i)
            oneByOne.place(row, RecordFields{record.at(i)});
        QCOMPARE(atOnce.captions(), oneByOne.captions());
        QCOMPARE(atOnce.captions(),
                 (QStringList{Pivot::AddressCaption, u"B"_s, u"A"_s, u"C"_s, u"D"_s}));
        for (int column = 0; column < atOnce.columnCount(); ++column)
            QCOMPARE(atOnce.cell(0, column), oneByOne.cell(0, column));
        QCOMPARE(atOnce.cell(0, 1), u"2\t"_s);
        QCOMPARE(atOnce.cell(0, 2), u"1\tx"_s);
        QCOMPARE(atOnce.cell(0, 3), u"3"_s);
        QCOMPARE(atOnce.cell(0, 4), u"\u00e9\U0001F600"_s);
    }

    void veryLongCell()
    {
        Pivot pivot;
        pivot.reset();
        pivot.addColumn(u"big"_s);
        pivot.addColumn(u"after"_s);
        const qsizetype row = pivot.addRow(u"r"_s);
        const QString big(8 * 1024 * 1024, u'\u00e9');
        pivot.setCell(row, 2, u"small"_s);
        pivot.setCell(row, 1, big);
        QCOMPARE(pivot.cellUtf8(row, 1).size(), qsizetype(16 * 1024 * 1024));
        QCOMPARE(pivot.cell(row, 1), big);
        QCOMPARE(pivot.cell(row, 2), u"small"_s);
    }

    // Text that is not valid UTF-16 is stored as its UTF-8 form writes it ('?' for each
    // unpaired surrogate), so the cell reads back the way the text file has it; a leading
    // U+FEFF stays.
    void textThatIsNotValidUtf16_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) + u"x"_s << u"?x"_s;
        QTest::newRow("lone low surrogate at the end") << u"x"_s + QChar(0xDC00) << u"x?"_s;
        QTest::newRow("reversed pair") << QString(QChar(0xDC00)) + QChar(0xD800) << u"??"_s;
        QTest::newRow("leading byte-order mark") << u"\uFEFFx"_s << u"\uFEFFx"_s;
    }

    void textThatIsNotValidUtf16()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        Pivot pivot;
        pivot.reset();
        pivot.addColumn(u"f"_s);
        const qsizetype row = pivot.addRow(text);
        pivot.setCell(row, 1, text);
        pivot.place(row, RecordFields{{u"f"_s, text}});
        QCOMPARE(pivot.cell(row, 0), stored);
        QCOMPARE(pivot.cell(row, 1), stored + u"\t"_s + stored);
        QCOMPARE(rowLine(pivot, row, TextFormat::Tsv),
                 (text + u"\t"_s + text + u"\t"_s + text + u"\r\n"_s).toUtf8());
    }
};

QUORVANE_REGISTER_TEST(PivotStorageTests)
#include "tst_pivot.moc"
