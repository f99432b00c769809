#include "addresses/listfile.h"
#include "addresses/listviewmodel.h"
#include "platform/runtimeerror.h"
#include "scripteddialogs.h"
#include "testregistry.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

// The list-file reader's sink that appends each batch to a list model.
inline ListFile::LineSink into(ListViewModel &list)
{
    return [&list](PackedLines &&batch) { list.addItems(std::move(batch)); };
}

using namespace Qt::StringLiterals;

namespace {

// Hands out its bytes a few at a time, so every split between two reads gets exercised; can
// fail after a given number of bytes and can be slow.
class TrickleDevice : public QIODevice
{
public:
    TrickleDevice(QByteArray data, qint64 chunk, qint64 failAfter = -1, int delayMs = 0)
        : m_data(std::move(data)), m_chunk(chunk), m_failAfter(failAfter), m_delayMs(delayMs)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        if (m_delayMs > 0)
            QThread::msleep(m_delayMs);
        if (m_failAfter >= 0 && m_pos >= m_failAfter) {
            setErrorString(u"Device I/O error"_s);
            return -1;
        }
        qint64 n = std::min({max, m_chunk, qint64(m_data.size()) - m_pos});
        if (m_failAfter >= 0)
            n = std::min(n, m_failAfter - m_pos);
        memcpy(out, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_chunk;
    qint64 m_failAfter;
    int m_delayMs;
    qint64 m_pos = 0;
};

QStringList entries(const ListViewModel &list, int from = 1)
{
    QStringList texts;
    for (int i = from; i <= list.itemCount(); ++i)
        texts.append(list.itemText(i));
    return texts;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The text as UTF-16 in the given byte order, behind that order's byte-order mark.
QByteArray utf16(const QString &text, bool bigEndian)
{
    QByteArray bytes = bigEndian ? "\xFE\xFF"_ba : "\xFF\xFE"_ba;
    for (QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

} // namespace

class ListFileTests : public QObject
{
    Q_OBJECT
private slots:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        const QStringList ab{u"a"_s, u"b"_s};
        QTest::newRow("CR LF") << "a\r\nb\r\n"_ba << ab;
        QTest::newRow("CR") << "a\rb\r"_ba << ab;
        QTest::newRow("LF") << "a\nb\n"_ba << ab;
        QTest::newRow("no final line end") << "a\nb"_ba << ab;
        QTest::newRow("mixed") << "a\r\nb\rc\nd"_ba << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
        QTest::newRow("empty line CR LF")
            << "a\r\n\r\nb\r\n"_ba << QStringList{u"a"_s, QString(), u"b"_s};
        QTest::newRow("empty line LF") << "a\n\nb"_ba << QStringList{u"a"_s, QString(), u"b"_s};
        QTest::newRow("CR CR LF") << "a\r\r\nb"_ba << QStringList{u"a"_s, QString(), u"b"_s};
        QTest::newRow("LF CR") << "a\n\rb"_ba << QStringList{u"a"_s, QString(), u"b"_s};
        QTest::newRow("empty last line") << "a\n\n"_ba << QStringList{u"a"_s, QString()};
        QTest::newRow("spaces kept") << "  \n a b \t\n"_ba << QStringList{u"  "_s, u" a b \t"_s};
        QTest::newRow("nothing skipped")
            << "# x\n;y;\nx\nx"_ba << QStringList{u"# x"_s, u";y;"_s, u"x"_s, u"x"_s};
        QTest::newRow("only a line end") << "\r\n"_ba << QStringList{QString()};
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("byte-order mark") << "\xEF\xBB\xBF"
                                            "a\r\nb"_ba
                                         << ab;
        QTest::newRow("byte-order mark later kept") << "a\n\xEF\xBB\xBF"
                                                       "b"_ba
                                                    << QStringList{u"a"_s, u"\ufeffb"_s};
        QTest::newRow("UTF-8") << "caf\xC3\xA9\n\xE4\xBE\x8B.jp"_ba
                               << QStringList{u"caf\u00e9"_s, u"\u4f8b.jp"_s};
        QTest::newRow("invalid byte") << "a\xFF"
                                         "b\n"_ba
                                      << QStringList{u"a\ufffdb"_s};
        QTest::newRow("cut off at the end") << "a\n\xE4\xBE"_ba << QStringList{u"a"_s, u"\ufffd"_s};
        // Between two reads, a sequence that turns out unfinished loses nothing after it.
        QTest::newRow("Latin-1 byte before a line end")
            << "caf\xE9\nx\n"_ba << QStringList{u"caf\ufffd"_s, u"x"_s};
        QTest::newRow("unfinished sequence before a letter")
            << "a\xE2\x82z\n"_ba << QStringList{u"a\ufffd\ufffdz"_s};
        QTest::newRow("byte-order mark after an invalid byte kept")
            << "\xEF\xEF\xBB\xBF.\n"_ba << QStringList{u"\ufffd\ufeff."_s};
        for (const bool bigEndian : {false, true}) {
            const char *order = bigEndian ? "BE" : "LE";
            QTest::addRow("UTF-16 %s", order)
                << utf16(u"a\r\nb\u00e9\rx.\U0001d11e\n\n\ufeffc"_s, bigEndian)
                << QStringList{u"a"_s, u"b\u00e9"_s, u"x.\U0001d11e"_s, QString(), u"\ufeffc"_s};
            QTest::addRow("UTF-16 %s unpaired halves, odd last byte", order)
                << utf16(u"a"_s + QChar(0xD800) + u"b\n"_s + QChar(0xDC00), bigEndian) + "z"
                << QStringList{u"a\ufffdb"_s, u"\ufffd\ufffd"_s};
        }
        // Lines are found eight bytes at a time: ends at every offset in a word, bytes that
        // differ from CR or LF in one bit, and a long line whose character straddles two reads
        // and whose read holds an invalid byte.
        QTest::newRow("line ends at every offset")
            << "abcdefg\nabcdef\r\nabcde\rabcd\n\nabc\r\rab\nc\x0B\x0C\x0E\x8A\x8D\t\n"_ba
            << QStringList{u"abcdefg"_s, u"abcdef"_s, u"abcde"_s,
                           u"abcd"_s,    QString(),   u"abc"_s,
                           QString(),    u"ab"_s,     u"c\u000b\u000c\u000e\ufffd\ufffd\t"_s};
        const qsizetype straddle = ListFile::LineReader::BlockSize - 1;
        QTest::newRow("long line across reads")
            << QByteArray(straddle, 'x') + "\xC3\xA9\xFFy\nz"_ba
            << QStringList{QString(straddle, u'x') + u"\u00e9\ufffdy"_s, u"z"_s};
        QTest::newRow("UTF-16 mark only") << "\xFF\xFE"_ba << QStringList();
        QTest::newRow("NUL after the first 4 KiB is read")
            << QByteArray(ListFile::SniffBytes, 'a') + "\n\0b"_ba
            << QStringList{QString(ListFile::SniffBytes, u'a'), QString(QChar(0)) + u"b"_s};
    }

    // Through a real file, through a device that hands out one byte per read, and through the
    // incremental reader.
    void lines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);

        QTemporaryDir dir;
        const QString path = dir.filePath(u"list.txt"_s);
        writeFile(path, bytes);
        ListViewModel list;
        list.addItem(u"existing"_s);
        ScriptedDialogs dialogs;
        FileToListview(into(list), path, dialogs, u"Quorvane"_s);
        QCOMPARE(entries(list), QStringList{u"existing"_s} + expected);
        QVERIFY(dialogs.shown.isEmpty());
        // Kept as valid UTF-8, so what is written from the bytes (the saved list) is too.
        QVERIFY(list.itemTexts().joined(';').isValidUtf8());

        ListViewModel trickled;
        TrickleDevice device(bytes, 1);
        QCOMPARE(ListFile::appendLines(into(trickled), device), qsizetype(expected.size()));
        QCOMPARE(entries(trickled), expected);

        // Fed whole to the incremental reader and taken one line at a time, so the lines wait
        // behind the ones taken.
        ListFile::LineReader reader;
        QStringList taken;
        reader.feed(bytes);
        for (QStringList one = reader.take(1); !one.isEmpty(); one = reader.take(1))
            taken += one;
        reader.finish();
        while (!reader.atEnd())
            taken += reader.take(2);
        QCOMPARE(taken, expected);
    }

    void missingFileIsReported()
    {
        QTemporaryDir dir;
        ListViewModel list;
        ScriptedDialogs dialogs;
        FileToListview(into(list), dir.filePath(u"none.txt"_s), dialogs, u"Title"_s);
        QCOMPARE(list.itemCount(), 0);
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].text, u"File not found"_s);
        QCOMPARE(dialogs.shown[0].title, u"Title"_s);
        QCOMPARE(dialogs.shown[0].icon, Dialogs::Icon::None);
    }

    void binaryFileIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("NUL in the first line") << "a\0b\nc\n"_ba;
        QTest::newRow("NUL at the last byte looked at")
            << QByteArray(ListFile::SniffBytes - 1, 'a') + '\0';
        QTest::newRow("UTF-16 without a byte-order mark") << utf16(u"a.com\n"_s, false).sliced(2);
        QTest::newRow("UTF-8 byte-order mark, then NUL") << "\xEF\xBB\xBFx\0"_ba;
    }

    void binaryFileIsRefused()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"picture.png"_s);
        writeFile(path, bytes);
        ListViewModel list;
        list.addItem(u"existing"_s);
        ScriptedDialogs dialogs;
        FileToListview(into(list), path, dialogs, u"Title"_s);
        QCOMPARE(entries(list), QStringList{u"existing"_s});
        QCOMPARE(dialogs.messages(), QStringList{ListFile::notAListMessage(path)});
        QVERIFY(dialogs.messages()[0].startsWith(path));
        QCOMPARE(dialogs.shown[0].title, u"Title"_s);
    }

    void folderCannotBeRead()
    {
        QTemporaryDir dir;
        ListViewModel list;
        ScriptedDialogs dialogs;
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 FileToListview(into(list), dir.path(), dialogs, u"T"_s));
        QCOMPARE(list.itemCount(), 0);
        QVERIFY(dialogs.shown.isEmpty());
    }

    // The complete lines before a read error stay; the line cut by it is not added.
    void readErrorKeepsWhatWasRead_data()
    {
        QTest::addColumn<qint64>("failAfter");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("at start") << qint64(0) << QStringList();
        QTest::newRow("after two lines") << qint64(4) << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("inside a line") << qint64(3) << QStringList{u"a"_s};
    }

    void readErrorKeepsWhatWasRead()
    {
        QFETCH(qint64, failAfter);
        QFETCH(QStringList, kept);
        ListViewModel list;
        TrickleDevice device("a\nb\nc\n", 1, failAfter);
        try {
            ListFile::appendLines(into(list), device);
            QFAIL("no error raised");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.description(), u"Device I/O error"_s);
        }
        QCOMPARE(entries(list), kept);
    }

    // Between slices the loader lets events run and asks whether to stop.
    void slowReadYieldsAndCanStop()
    {
        ListViewModel list;
        TrickleDevice device("a\nb\nc\nd\n", 4, -1, ListFile::SliceMs + 5);
        bool timerRan = false;
        QTimer::singleShot(0, [&] { timerRan = true; });
        int asked = 0;
        ListFile::appendLines(into(list), device, [&] { return ++asked == 1; });
        QVERIFY(timerRan);
        QCOMPARE(asked, 1);
        QCOMPARE(entries(list), (QStringList{u"a"_s, u"b"_s}));

        ListViewModel all;
        TrickleDevice again("a\nb\nc\nd\n", 4, -1, ListFile::SliceMs + 5);
        ListFile::appendLines(into(all), again, [] { return false; });
        QCOMPARE(all.itemCount(), 4);
    }

    // Lines go into the list in batches, not one insertion per line.
    void insertsInBatches()
    {
        QByteArray bytes;
        for (int i = 0; i < 200000; ++i)
            bytes += "host" + QByteArray::number(i) + ".example\n";
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        ListViewModel list;
        QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
        QCOMPARE(ListFile::appendLines(into(list), buffer), qsizetype(200000));
        QVERIFY2(inserted.size() < 200, qPrintable(QString::number(inserted.size())));
        QCOMPARE(list.itemText(1), u"host0.example"_s);
        QCOMPARE(list.itemText(200000), u"host199999.example"_s);
        QCOMPARE(list.itemText(123457), u"host123456.example"_s);
    }

    void normalizePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("clean") << u"/home/u/list.txt"_s << u"/home/u/list.txt"_s;
        QTest::newRow("root folder joined") << u"//list.txt"_s << u"/list.txt"_s;
        QTest::newRow("doubled inside") << u"/home//u//a.txt"_s << u"/home/u/a.txt"_s;
        QTest::newRow("leading run") << u"////srv//x"_s << u"/srv/x"_s;
        QTest::newRow("tripled: one pass") << u"a///b"_s << u"a//b"_s;
        QTest::newRow("relative") << u"a//b"_s << u"a/b"_s;
        QTest::newRow("only separators") << u"///"_s << u"/"_s;
        QTest::newRow("empty") << QString() << QString();
    }

    void normalizePath()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(NormalizePath(path), expected);
    }
};

QUORVANE_REGISTER_TEST(ListFileTests)
#include "tst_listfile.moc"
