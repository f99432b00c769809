#include "platform/spreadsheetapp.h"
#include "testregistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Which programs on PATH make a spreadsheet application count as installed.
class SpreadsheetAppTests : public QObject
{
    Q_OBJECT

    static void addProgram(const QTemporaryDir &dir, const QString &name, const QByteArray &script)
    {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(script);
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private slots:
    void installed_data()
    {
        QTest::addColumn<QStringList>("programs");
        QTest::addColumn<QByteArray>("xdgMimeAnswer");
        QTest::addColumn<bool>("installed");
        QTest::newRow("nothing on PATH") << QStringList{} << QByteArray() << false;
        QTest::newRow("localc") << QStringList{QStringLiteral("localc")} << QByteArray() << true;
        QTest::newRow("soffice") << QStringList{QStringLiteral("soffice")} << QByteArray() << true;
        QTest::newRow("a registered application")
            << QStringList{QStringLiteral("xdg-mime")} << QByteArray("calc.desktop") << true;
        QTest::newRow("xdg-mime knows none")
            << QStringList{QStringLiteral("xdg-mime")} << QByteArray() << false;
    }
    void installed()
    {
        QFETCH(QStringList, programs);
        QFETCH(QByteArray, xdgMimeAnswer);
        QFETCH(bool, installed);
        QTemporaryDir bin;
        for (const QString &program : programs)
            addProgram(bin, program, "#!/bin/sh\necho " + xdgMimeAnswer + "\n");
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8());
        XdgSpreadsheetApp app;
        const bool answer = app.isInstalled();
        qputenv("PATH", oldPath);
        QCOMPARE(answer, installed);
    }
};

QUORVANE_REGISTER_TEST(SpreadsheetAppTests)
#include "tst_spreadsheetapp.moc"
