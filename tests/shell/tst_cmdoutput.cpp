#include "platform/runtimeerror.h"
#include "shell/cmdoutput.h"
#include "shell/processcommandrunner.h"
#include "testregistry.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class CmdOutputTests : public QObject
{
    Q_OBJECT
private slots:
    void capture_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("wantOutput");
        QTest::addColumn<bool>("wantErrors");
        QTest::addColumn<QString>("expected");

        // 300 separate writes of five bytes each: far more than one read's worth.
        QString numbers;
        for (int i = 1; i <= 300; ++i)
            numbers += QString::asprintf("%04d,", i);
        QTest::newRow("many pieces")
            << uR"(sh -c "for i in $(seq 1 300); do printf %04d, $i; done")"_s << true << false
            << numbers;
        QTest::newRow("errors left out") << uR"(sh -c "echo out; echo err >&2; echo out2")"_s
                                         << true << false << u"out\nout2\n"_s;
        QTest::newRow("errors only")
            << uR"(sh -c "echo out; echo err >&2; echo out2")"_s << false << true << u"err\n"_s;
        QTest::newRow("both in order written")
            << uR"(sh -c "echo 1; echo 2 >&2; echo 3; sleep 0.05; echo 4 >&2; echo 5")"_s << true
            << true << u"1\n2\n3\n4\n5\n"_s;
        // Double quotes group words; single quotes are ordinary characters here.
        QTest::newRow("quoted arguments")
            << uR"(printf "%s|" "a  b" 'c d' e)"_s << true << false << u"a  b|'c|d'|e|"_s;
        QTest::newRow("character split between reads")
            << uR"(sh -c "printf '\303'; sleep 0.2; printf '\251'")"_s << true << false
            << u"\u00e9"_s;
        QTest::newRow("character cut off at the end")
            << uR"(printf "x\303")"_s << true << false << u"x\ufffd"_s;
        QTest::newRow("invalid byte") << uR"(printf "a\377b")"_s << true << false << u"a\ufffdb"_s;
        QTest::newRow("no output") << u"true"_s << true << true << QString();
        QTest::newRow("missing program") << u"/nonexistent/quorvane-no-such-program -x"_s << true
                                         << false << ProcessStartFailedText;
        QTest::newRow("empty command line") << u"  "_s << true << false << ProcessStartFailedText;
    }

    void capture()
    {
        QFETCH(QString, command);
        QFETCH(bool, wantOutput);
        QFETCH(bool, wantErrors);
        QFETCH(QString, expected);
        QCOMPARE(CaptureCommandOutput(command, wantOutput, wantErrors, 10000), expected);
    }

    void neitherStreamIsAnInvalidArgument()
    {
        try {
            CaptureCommandOutput(u"echo x"_s, false, false);
            QFAIL("no error raised");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.description(), u"Invalid procedure call or argument"_s);
        }
    }

    void childThatNeverEndsIsKilledAtTheLimit()
    {
        QElapsedTimer clock;
        clock.start();
        const QString output =
            CaptureCommandOutput(u"sh -c \"echo started; exec sleep 30\""_s, true, false, 300);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        // What was written before the kill is kept.
        QCOMPARE(output, u"started\n"_s);
    }

    void eventsRunWhileWaiting()
    {
        bool fired = false;
        QTimer::singleShot(20, [&] { fired = true; });
        CaptureCommandOutput(u"sleep 0.3"_s, true, false);
        QVERIFY(fired);
    }

    void runnerUsesItsLimit()
    {
        ProcessCommandRunner runner(200);
        QCOMPARE(runner.capture(u"echo hello"_s, true, false), u"hello\n"_s);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runner.capture(u"sleep 30"_s, true, false), QString());
        QVERIFY(clock.elapsed() < 5000);
    }
};

QUORVANE_REGISTER_TEST(CmdOutputTests)
#include "tst_cmdoutput.moc"
