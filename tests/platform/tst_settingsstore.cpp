#include "platform/fileexists.h"
#include "platform/runtimeerror.h"
#include "platform/settingsstore.h"
#include "testregistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
};

QUORVANE_REGISTER_TEST(SettingsStoreTests)
#include "tst_settingsstore.moc"
