#include "platform/filebytes.h"
#include "platform/fileexists.h"
#include "platform/runtimeerror.h"
#include "platform/settingsstore.h"
#include "testregistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(cannot be read)");
}

// What is at the path itself (a link is not followed): the type and, for a link, its target.
QString entryAt(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("nothing");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link to ") + QFileInfo(path).symLinkTarget();
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("pipe");
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("character device %1,%2")
            .arg(major(st.st_rdev))
            .arg(minor(st.st_rdev));
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("folder");
    return S_ISREG(st.st_mode) ? QStringLiteral("file of %1 bytes").arg(st.st_size)
                               : QStringLiteral("other");
}

} // namespace

class SettingsStoreTests : public QObject
{
    Q_OBJECT

private slots:
    // QSettings reads XDG_CONFIG_HOME once per process; the test program's environment sets it.
    void storesUnderFerrowickQuorvane()
    {
        const QString path =
            qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Ferrowick/Quorvane.ini");
        QCOMPARE(IniSettingsStore::filePath(), path);
        QFile::remove(path);
        IniSettingsStore store;
        QCOMPARE(store.read(QStringLiteral("Text1"), QStringLiteral("7")), QStringLiteral("7"));
        store.write(QStringLiteral("IP Addresses"), QStringLiteral(" a;b ;c=d"));
        store.write(QStringLiteral("Text1"), QString());

        // Written through at once: the file holds the values before the store goes away.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("[Quorvane]"));

        IniSettingsStore again;
        QCOMPARE(again.read(QStringLiteral("IP Addresses"), QString()),
                 QStringLiteral(" a;b ;c=d"));
        // A stored empty string is not an absent key.
        QCOMPARE(again.read(QStringLiteral("Text1"), QStringLiteral("7")), QString());
    }

    void unwritableFileThrows()
    {
        // A folder where the settings file should be: no user, root included, can write it.
        const QString path = IniSettingsStore::filePath();
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path));
        IniSettingsStore store;
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 store.write(QStringLiteral("Text1"), QStringLiteral("7")));
        QCOMPARE(store.read(QStringLiteral("Text1"), QStringLiteral("7")), QStringLiteral("7"));
        QVERIFY(QDir(path).removeRecursively());
    }

    // The file is the one QSettings alone would write, whichever way each value is written
    // (plain values of keys already in the file go straight into their line).
    void writesWhatQSettingsWrites_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("list") << QStringLiteral("a.example;b.example;10.0.0.1");
        QTest::newRow("one") << QStringLiteral("example.com");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks outside") << QStringLiteral(" a;b ");
        QTest::newRow("blank inside") << QStringLiteral("a b");
        QTest::newRow("blanks outside, one entry") << QStringLiteral("  example.com ");
        QTest::newRow("comma") << QStringLiteral("a,b");
        QTest::newRow("equals") << QStringLiteral("a=b");
        QTest::newRow("at sign first") << QStringLiteral("@a;b");
        QTest::newRow("quote") << QStringLiteral("a\"b");
        QTest::newRow("backslash last") << QStringLiteral("a\\");
        QTest::newRow("non-ASCII") << QStringLiteral("b\u00fccher.example;\u4f8b.jp");
        QTest::newRow("control characters") << QStringLiteral("a\tb\r\nc\u0001f");
        QTest::newRow("bracket line") << QStringLiteral("[Quorvane]");
    }
    void writesWhatQSettingsWrites()
    {
        QFETCH(QString, value);
        const QString path = IniSettingsStore::filePath();
        QFile::remove(path);
        QTemporaryDir dir;
        const QString reference = dir.filePath(QStringLiteral("reference.ini"));
        const QList<std::pair<QString, QString>> writes{
            {QStringLiteral("Text1"), QStringLiteral("7")},
            {QStringLiteral("IP Addresses"), QStringLiteral("first;list")},
            {QStringLiteral("IP Addresses"), value},
            {QStringLiteral("Text1"), QStringLiteral("12")},
            // Through QSettings again: what went into a line directly must stay.
            {QStringLiteral("Text1"), QStringLiteral("1\t2")},
        };
        IniSettingsStore store;
        for (const auto &[key, text] : writes) {
            store.write(key, text);
            {
                QSettings q(reference, QSettings::IniFormat);
                q.beginGroup(QStringLiteral("Quorvane"));
                q.setValue(key, text);
            }
            QFile mine(path);
            QFile theirs(reference);
            QVERIFY(mine.open(QIODevice::ReadOnly) && theirs.open(QIODevice::ReadOnly));
            QCOMPARE(mine.readAll(), theirs.readAll());
            QCOMPARE(store.read(key, QStringLiteral("absent")), text);
        }
    }

    // A hand-edited value with commas and no quotes reads back as the text it is, not as
    // nothing.
    void valueWithCommasReadsAsText_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unquoted") << QByteArray("IP Addresses=a.com, b.com, 10.0.0.1")
                                  << QStringLiteral("a.com, b.com, 10.0.0.1");
        QTest::newRow("quoted") << QByteArray("IP Addresses=\"a.com, b.com;c\"")
                                << QStringLiteral("a.com, b.com;c");
    }
    void valueWithCommasReadsAsText()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        writeFile(IniSettingsStore::filePath(), "[Quorvane]\n" + line + "\nText1=3\n");
        IniSettingsStore store;
        QCOMPARE(store.read(QStringLiteral("IP Addresses"), QString()), expected);
        QCOMPARE(store.read(QStringLiteral("Text1"), QString()), QStringLiteral("3"));
        QVERIFY(QFile::remove(IniSettingsStore::filePath()));
    }

    // A hand-edited line QSettings would read otherwise than written (an unquoted list with
    // ";", bytes that are not UTF-8) reads whole; writing another key leaves it byte for byte,
    // writing it back unchanged leaves it too, and a changed value goes into its own line only.
    void handEditedLinesReadWholeAndKept_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QByteArray>("changedLine"); // after writing read + ";new.example"
        QTest::newRow("unquoted list with semicolons")
            << QByteArray("IP%20Addresses=a.example;b.example;10.0.0.1")
            << u"a.example;b.example;10.0.0.1"_s
            << QByteArray("IP%20Addresses=\"a.example;b.example;10.0.0.1;new.example\"");
        QTest::newRow("partly quoted, spaces kept inside")
            << QByteArray("IP%20Addresses=a.example; \"b c\";d") << u"a.example; b c;d"_s
            << QByteArray("IP%20Addresses=\"a.example; b c;d;new.example\"");
        QTest::newRow("Latin-1, not UTF-8")
            << QByteArray("IP%20Addresses=m\xfcnchen.example") << u"m\u00fcnchen.example"_s
            << QByteArray("IP%20Addresses=\"m\xc3\xbcnchen.example;new.example\"");
        QTest::newRow("Latin-1 with semicolons")
            << QByteArray("IP%20Addresses=k\xf6ln.example;a.example")
            << u"k\u00f6ln.example;a.example"_s
            << QByteArray("IP%20Addresses=\"k\xc3\xb6ln.example;a.example;new.example\"");
    }
    void handEditedLinesReadWholeAndKept()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, read);
        QFETCH(QByteArray, changedLine);
        const QString path = IniSettingsStore::filePath();
        QFile::remove(path);
        const QByteArray before = "; kept by hand\n[Quorvane]\n" + line + "\nText1=3\n";
        writeFile(path, before);
        const QString key = u"IP Addresses"_s;
        {
            IniSettingsStore store;
            QCOMPARE(store.read(key, QString()), read);
            // Through QSettings these would rewrite the whole file from what it read.
            store.write(u"Text1"_s, u"4\t5"_s);
            store.write(u"WindowSize"_s, u"700x600"_s);
            store.write(key, read);
        }
        QByteArray expected = before;
        expected.replace("Text1=3", "Text1=4\\t5\nWindowSize=700x600");
        QCOMPARE(fileBytes(path), expected);
        IniSettingsStore again;
        QCOMPARE(again.read(key, QString()), read);
        QCOMPARE(again.read(u"Text1"_s, QString()), u"4\t5"_s);
        again.write(key, read + u";new.example"_s);
        expected.replace(line, changedLine);
        QCOMPARE(fileBytes(path), expected);
        QCOMPARE(IniSettingsStore().read(key, QString()), read + u";new.example"_s);
        QVERIFY(QFile::remove(path));
    }

    // A file QSettings cannot read (another program's, through a link; or one it may not open)
    // is never written: reads give the defaults, the first write says why, the file stays.
    void unreadableFileIsNeverWritten_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("readable");
        QTest::newRow("a password table")
            << QByteArray("root:x:0:0:root:/root:/bin/bash\nnobody:x:65534:65534::/:/bin/false\n")
            << true;
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR") << true;
        QTest::newRow("no permission to read") << QByteArray("[Quorvane]\nText1=2\n") << false;
    }
    void unreadableFileIsNeverWritten()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, readable);
        if (!readable && ::geteuid() == 0)
            QSKIP("root reads any file");
        const QString path = IniSettingsStore::filePath();
        QFile::remove(path);
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(u"passwd"_s);
        writeFile(target, content);
        if (!readable)
            QVERIFY(QFile::setPermissions(target, QFileDevice::WriteOwner));
        QVERIFY(QFile::link(target, path));
        {
            IniSettingsStore store;
            QCOMPARE(store.read(u"Text1"_s, u"7"_s), u"7"_s);
            QVERIFY_THROWS_EXCEPTION(RuntimeError, store.write(u"Text1"_s, u"7"_s));
            store.write(u"IP Addresses"_s, u"a;b"_s);
        }
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(fileBytes(target), content);
        QCOMPARE(entryAt(path), u"link to "_s + target);
        QVERIFY(QFile::remove(path));
    }

    // A settings path that is, or links to, something other than a regular file is neither
    // opened nor written: reads give the defaults, the first write throws, later ones are
    // left silently, and what is there stays as it was. (Every target is made here, in the
    // test's own folder; a device node needs root.)
    void nonRegularFileIsNotWritten_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("pipe") << QStringLiteral("pipe");
        QTest::newRow("link to a pipe") << QStringLiteral("link to pipe");
        QTest::newRow("link to a folder") << QStringLiteral("link to folder");
        QTest::newRow("link to nothing") << QStringLiteral("link to nothing");
        QTest::newRow("device") << QStringLiteral("device");
        QTest::newRow("link to a device") << QStringLiteral("link to device");
    }
    void nonRegularFileIsNotWritten()
    {
        QFETCH(QString, kind);
        const QString path = IniSettingsStore::filePath();
        QFile::remove(path);
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("target"));
        const QByteArray made = QFile::encodeName(kind.startsWith(u"link") ? target : path);
        if (kind.endsWith(u"pipe")) {
            QCOMPARE(::mkfifo(made.constData(), 0600), 0);
        } else if (kind.endsWith(u"folder")) {
            QVERIFY(QDir().mkdir(target));
        } else if (kind.endsWith(u"device")) {
            // A node of the null device, in a folder of its own: replacing it would harm
            // nothing else.
            if (::geteuid() != 0)
                QSKIP("making a device node needs root");
            QCOMPARE(::mknod(made.constData(), S_IFCHR | 0600, makedev(1, 3)), 0);
        }
        if (kind.startsWith(u"link"))
            QVERIFY(QFile::link(target, path));
        // A writer held open: a pipe opened for reading would otherwise wait for one forever.
        const int writer =
            kind.endsWith(u"pipe") ? ::open(made.constData(), O_RDWR | O_NONBLOCK) : -1;
        const QString before = entryAt(path);
        const QString targetBefore = entryAt(target);

        QVERIFY(!IniSettingsStore::refusal(path).isEmpty());
        IniSettingsStore store;
        QCOMPARE(store.read(QStringLiteral("Text1"), QStringLiteral("7")), QStringLiteral("7"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 store.write(QStringLiteral("Text1"), QStringLiteral("9")));
        store.write(QStringLiteral("IP Addresses"), QStringLiteral("a;b"));
        QCOMPARE(entryAt(path), before);
        QCOMPARE(entryAt(target), targetBefore);

        if (writer >= 0)
            ::close(writer);
        QVERIFY(::unlink(QFile::encodeName(path).constData()) == 0);
    }

    // A link to a regular file elsewhere (a kept dot-file folder, say) is written through: the
    // link stays, the file it points to takes the settings.
    void linkToARegularFileIsWrittenThrough()
    {
        const QString path = IniSettingsStore::filePath();
        QFile::remove(path);
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("kept.ini"));
        writeFile(target, "[Quorvane]\nText1=4\n");
        QVERIFY(QFile::link(target, path));
        IniSettingsStore store;
        QCOMPARE(store.read(QStringLiteral("Text1"), QString()), QStringLiteral("4"));
        store.write(QStringLiteral("Text1"), QStringLiteral("5"));
        QCOMPARE(entryAt(path), QStringLiteral("link to ") + target);
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Text1=5"));
        QVERIFY(QFile::remove(path));
    }

    // One store serves the program's life: a write that failed does not fail every later one.
    void writeWorksAgainOnceTheFolderIsBack()
    {
        const QString path = IniSettingsStore::filePath();
        const QString folder = QFileInfo(path).absolutePath();
        QVERIFY(QDir(folder).removeRecursively());
        writeFile(folder, "a file where the folder belongs");
        IniSettingsStore store;
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 store.write(QStringLiteral("Text1"), QStringLiteral("8")));
        QVERIFY(QFile::remove(folder));
        QVERIFY(QDir().mkpath(folder));
        store.write(QStringLiteral("Text1"), QStringLiteral("8"));
        QCOMPARE(IniSettingsStore().read(QStringLiteral("Text1"), QString()), QStringLiteral("8"));
    }

    void fileExists_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("exists");
        QTest::newRow("file") << QStringLiteral("f.txt") << true;
        QTest::newRow("folder") << QStringLiteral("sub") << true;
        QTest::newRow("missing") << QStringLiteral("nope.txt") << false;
        QTest::newRow("below a file") << QStringLiteral("f.txt/x") << false;
        QTest::newRow("empty path") << QString() << false;
    }
    void fileExists()
    {
        QFETCH(QString, relative);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("f.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        const QString path = relative.isEmpty() ? QString() : dir.filePath(relative);
        QCOMPARE(FileExists(path), exists);
    }

    // Read whole up to the cap; a pipe is read past its first block; the kernel's files, which
    // say they hold nothing, are read too.
    void readFileBytes_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("tooLarge");
        QTest::newRow("under the cap") << u"file"_s << 1000 << 1001 << 0 << false;
        QTest::newRow("at the cap") << u"file"_s << 1000 << 1000 << 0 << false;
        QTest::newRow("past the cap") << u"file"_s << 1001 << 1000 << 0 << true;
        QTest::newRow("empty") << u"file"_s << 0 << 10 << 0 << false;
        QTest::newRow("missing") << u"missing"_s << 0 << 10 << ENOENT << false;
        QTest::newRow("folder") << u"folder"_s << 0 << 10 << EISDIR << false;
        QTest::newRow("pipe") << u"pipe"_s << 200000 << 300000 << 0 << false;
        QTest::newRow("pipe past the cap") << u"pipe"_s << 200000 << 150000 << 0 << true;
    }
    void readFileBytes()
    {
        QFETCH(QString, kind);
        QFETCH(int, size);
        QFETCH(int, cap);
        QFETCH(int, error);
        QFETCH(bool, tooLarge);
        QTemporaryDir dir;
        QByteArray bytes(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            bytes[i] = char('a' + i % 26);
        QString path = dir.filePath(u"f"_s);
        int ends[2] = {-1, -1};
        if (kind == u"file"_s) {
            writeFile(path, bytes);
        } else if (kind == u"folder"_s) {
            path = dir.path();
        } else if (kind == u"pipe"_s) {
            QCOMPARE(::pipe(ends), 0);
            QVERIFY(::fcntl(ends[1], F_SETPIPE_SZ, 1 << 20) >= size);
            QCOMPARE(::write(ends[1], bytes.constData(), size_t(size)), ssize_t(size));
            ::close(ends[1]);
            path = u"/proc/self/fd/"_s + QString::number(ends[0]);
        }
        const FileBytes read = ::readFileBytes(path, cap);
        if (ends[0] >= 0)
            ::close(ends[0]);
        QCOMPARE(read.error, error);
        QCOMPARE(read.tooLarge, tooLarge);
        QCOMPARE(read.ok(), error == 0 && !tooLarge);
        QCOMPARE(read.bytes, read.ok() ? bytes : QByteArray());
    }
    void readFileBytesOfKernelFile()
    {
        const FileBytes read = ::readFileBytes(u"/proc/self/status"_s, 1 << 20);
        QVERIFY(read.ok());
        QVERIFY(read.bytes.startsWith("Name:"));
        QVERIFY(read.bytes.endsWith('\n'));
    }
};

QUORVANE_REGISTER_TEST(SettingsStoreTests)
#include "tst_settingsstore.moc"
