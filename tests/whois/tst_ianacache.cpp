#include "testregistry.h"
#include "whois/ianacache.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ino_t inodeOf(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// A line of the cache file for a TLD, as the cache writes it.
QByteArray tldLine(const QByteArray &tld, qint64 fetched)
{
    return QJsonDocument(
               QJsonObject{{u"type"_s, u"tld"_s},
                           {u"first"_s, QString::fromLatin1(tld.toHex())},
                           {u"last"_s, QString()},
                           {u"fetched"_s, double(fetched)},
                           {u"text"_s, QString(u"refer: whois.nic."_s + QString::fromLatin1(tld))},
                           {u"serverNonPublic"_s, false}})
        .toJson(QJsonDocument::Compact);
}

// Asks the cache about names, all in one turn of the event loop, and waits for the answers.
// Returns the TLDs IANA itself was asked about.
QStringList ask(IanaCache &cache, const QStringList &names)
{
    QStringList asked;
    int done = 0;
    for (const QString &name : names) {
        const Query query = parseQuery(name);
        cache.get(
            query,
            [&asked, query](const std::function<void(const WhoisReply &)> &answered) {
                asked << QString::fromLatin1(query.tld());
                Whois43Answer answer;
                answer.ok = true;
                answer.bytes = "refer: whois.nic." + query.tld() + "\n";
                answered(answer);
            },
            [&done](const Result<IanaCache::Entry, LookupError> &) { ++done; });
    }
    if (!QTest::qWaitFor([&] { return done == names.size(); }, 5000))
        qFatal("no answer from the cache");
    QTest::qWait(0); // the write of the batch
    return asked;
}

} // namespace

// IANA's answers on disk: appended a batch at a time (never the whole file again per answer),
// read back by the next run, a line cut short or gone stale skipped, the file compacted when
// its dead lines outnumber the live ones.
class TestIanaCache : public QObject
{
    Q_OBJECT

private slots:
    void answersAppendedInBatches()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"iana-whois.jsonl"_s);
        {
            IanaCache cache(dir.path());
            QCOMPARE(ask(cache, {u"a.com"_s}), QStringList{u"com"_s});
            const QByteArray first = fileBytes(path);
            QCOMPARE(first.count('\n'), 2); // the file's first line, one answer
            const ino_t inode = inodeOf(path);
            QCOMPARE(ask(cache, {u"b.net"_s, u"c.org"_s, u"d.com"_s}),
                     (QStringList{u"net"_s, u"org"_s}));
            const QByteArray second = fileBytes(path);
            // The same file, grown at its end: nothing written again.
            QCOMPARE(inodeOf(path), inode);
            QVERIFY(second.startsWith(first));
            QCOMPARE(second.count('\n'), 4);
        }
        IanaCache next(dir.path());
        QCOMPARE(ask(next, {u"x.com"_s, u"y.net"_s, u"z.org"_s}), QStringList());
    }

    void deadLinesSkippedAndCompacted_data()
    {
        QTest::addColumn<int>("stale");
        QTest::addColumn<int>("linesAfter");
        // Two live answers, a line cut short by a killed run at the end, and stale ones.
        QTest::newRow("few dead lines: appended, after the broken one")
            << 0 << 1 + 3 + 2; // header, org, info, the broken line, then net and com
        QTest::newRow("dead lines outnumber live ones: compacted")
            << 2 << 1 + 4; // header and the four live answers
    }
    void deadLinesSkippedAndCompacted()
    {
        QFETCH(int, stale);
        QFETCH(int, linesAfter);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"iana-whois.jsonl"_s);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        {
            // The first line as the cache writes it, taken from a cache that wrote one.
            QTemporaryDir other;
            IanaCache writer(other.path());
            ask(writer, {u"a.example"_s});
            writer.flush();
            file.write(fileBytes(other.filePath(u"iana-whois.jsonl"_s)).split('\n').first() + '\n');
        }
        file.write(tldLine("org", now) + '\n');
        for (int i = 0; i < stale; ++i)
            file.write(tldLine("net", now - (3 + i) * 24 * 3600) + '\n');
        file.write(tldLine("info", now) + '\n');
        file.write(tldLine("com", now).left(30)); // cut short by a killed run
        file.close();
        {
            IanaCache cache(dir.path());
            QCOMPARE(ask(cache, {u"x.org"_s, u"x.info"_s, u"x.net"_s, u"x.com"_s}),
                     (QStringList{u"net"_s, u"com"_s}));
        }
        QCOMPARE(fileBytes(path).trimmed().split('\n').size(), linesAfter);
        IanaCache next(dir.path());
        QCOMPARE(ask(next, {u"y.org"_s, u"y.info"_s, u"y.net"_s, u"y.com"_s}), QStringList());
    }
};

QUORVANE_REGISTER_TEST(TestIanaCache)
#include "tst_ianacache.moc"
