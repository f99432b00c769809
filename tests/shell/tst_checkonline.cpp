#include "platform/commandrunner.h"
#include "scriptedcommandrunner.h"
#include "scripteddialogs.h"
#include "shell/checkonline.h"
#include "shell/cmdoutput.h"
#include "shell/processcommandrunner.h"
#include "testregistry.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Sets QUORVANE_PING_COMMAND (or removes it) for one test and restores it afterwards.
class PingCommand
{
public:
    explicit PingCommand(const QString *value)
        : m_wasSet(qEnvironmentVariableIsSet("QUORVANE_PING_COMMAND")),
          m_old(qgetenv("QUORVANE_PING_COMMAND"))
    {
        if (value)
            qputenv("QUORVANE_PING_COMMAND", value->toUtf8());
        else
            qunsetenv("QUORVANE_PING_COMMAND");
    }
    ~PingCommand()
    {
        if (m_wasSet)
            qputenv("QUORVANE_PING_COMMAND", m_old);
        else
            qunsetenv("QUORVANE_PING_COMMAND");
    }

private:
    bool m_wasSet;
    QByteArray m_old;
};

} // namespace

class CheckOnlineTests : public QObject
{
    Q_OBJECT
private slots:
    void replyDetection_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("online");
        QTest::newRow("capitals") << u"Reply from 1.2.3.4: BYTES=32 time=1ms"_s << true;
        QTest::newRow("linux reply") << u"PING 1.2.3.4 (1.2.3.4) 56(84) bytes of data.\n"
                                        "64 bytes from 1.2.3.4: icmp_seq=1 ttl=57 time=1.0 ms\n"_s
                                     << true;
        QTest::newRow("no reply")
            << u"PING 1.2.3.4 (1.2.3.4) 56(84) bytes of data.\n\n--- 1.2.3.4 ping statistics "
               "---\n1 packets transmitted, 0 received, 100% packet loss, time 0ms\n"_s
            << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("start failure") << ProcessStartFailedText << false;
    }

    void replyDetection()
    {
        QFETCH(QString, output);
        QFETCH(bool, online);
        QCOMPARE(Connectivity::showsReply(output), online);

        ScriptedCommandRunner commands;
        commands.output = output;
        ScriptedDialogs dialogs;
        CheckOnline(commands, dialogs, u"Title"_s);
        if (online) {
            QVERIFY(dialogs.shown.isEmpty());
        } else {
            QCOMPARE(dialogs.shown.size(), 1);
            QCOMPARE(dialogs.shown[0].kind, ScriptedDialogs::Kind::Message);
            QCOMPARE(dialogs.shown[0].text, Connectivity::OfflineWarning);
            QCOMPARE(dialogs.shown[0].title, u"Title"_s);
            QCOMPARE(dialogs.shown[0].icon, Dialogs::Icon::None);
        }
    }

    void defaultCommandPingsOnceWithinTwoSeconds()
    {
        PingCommand unset(nullptr);
        ScriptedCommandRunner commands;
        commands.output = u"64 bytes from x: icmp_seq=1 ttl=1"_s;
        ScriptedDialogs dialogs;
        CheckOnline(commands, dialogs, u"T"_s);
        QCOMPARE(commands.commandLines.size(), 1);
        QVERIFY(commands.commandLines[0].startsWith(u"ping -c 1 -W 2 "_s));
    }

    // The real runner with the command replaced: no network needed.
    void realCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("warned");
        QTest::newRow("online") << u"echo bytes=32"_s << false;
        QTest::newRow("offline") << u"false"_s << true;
        QTest::newRow("reply on standard error only") << u"sh -c \"echo ttl=1 >&2\""_s << true;
        QTest::newRow("missing program") << u"/nonexistent/ping -c 1"_s << true;
        QTest::newRow("never ends") << u"sleep 30"_s << true;
    }

    void realCommands()
    {
        QFETCH(QString, command);
        QFETCH(bool, warned);
        PingCommand set(&command);
        ProcessCommandRunner commands;
        ScriptedDialogs dialogs;
        QElapsedTimer clock;
        clock.start();
        CheckOnline(commands, dialogs, u"Quorvane"_s);
        // Start-up shows its window, or the warning, within three seconds whatever the command.
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(dialogs.messages(),
                 warned ? QStringList{Connectivity::OfflineWarning} : QStringList());
    }
};

QUORVANE_REGISTER_TEST(CheckOnlineTests)
#include "tst_checkonline.moc"
