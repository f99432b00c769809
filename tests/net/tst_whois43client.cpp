#include "net/whois43client.h"
#include "testregistry.h"
#include "testwhoisserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using Failure = Whois43Answer::Failure;
Q_DECLARE_METATYPE(TestWhoisServer::Reply)

namespace {

Whois43Answer ask(quint16 port, const QByteArray &query, const Whois43Limits &limits = {})
{
    Whois43Client client({}, limits);
    QSignalSpy spy(&client, &Whois43Client::finished);
    client.start(Whois43Request{QStringLiteral("127.0.0.1"), port, query, false});
    if (!spy.wait(10000))
        qFatal("no answer");
    return spy.at(0).at(0).value<Whois43Answer>();
}

} // namespace

class TestWhois43Client : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<TestWhoisServer::Reply>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<Failure>("failure");

        const QByteArray record = "Domain Name: EXAMPLE.COM\r\nRegistrar: Test\r\n";
        QTest::newRow("whole, closed") << TestWhoisServer::Reply{record} << true << Failure::None;
        QTest::newRow("empty, closed") << TestWhoisServer::Reply{} << true << Failure::None;
        QTest::newRow("cut by a reset")
            << TestWhoisServer::Reply{record, true} << false << Failure::Reset;
        QTest::newRow("2 MiB") << TestWhoisServer::Reply{QByteArray(2 << 20, 'x')} << false
                               << Failure::TooLarge;
        QTest::newRow("exactly the cap")
            << TestWhoisServer::Reply{QByteArray(1 << 20, 'x')} << true << Failure::None;
        QTest::newRow("never answers")
            << TestWhoisServer::Reply{{}, false, true} << false << Failure::Timeout;
    }
    void answers()
    {
        QFETCH(TestWhoisServer::Reply, reply);
        QFETCH(bool, ok);
        QFETCH(Failure, failure);
        TestWhoisServer server([reply](const QByteArray &) { return reply; });
        Whois43Limits limits;
        limits.answerTimeoutMs = 500;
        const Whois43Answer answer = ask(server.port(), "example.com", limits);
        QCOMPARE(answer.ok, ok);
        QCOMPARE(answer.failure, failure);
        QCOMPARE(answer.bytes, ok ? reply.bytes : QByteArray());
        QCOMPARE(answer.reason.isEmpty(), ok);
        QCOMPARE(server.queries, QList<QByteArray>{"example.com\r\n"});
    }

    // With every descriptor of the process in use, a connection waits for one to come free
    // instead of failing, and its deadlines count from the moment it has one.
    void waitsForADescriptor_data()
    {
        QTest::addColumn<bool>("hang");
        QTest::newRow("answered") << false;
        QTest::newRow("deadline after the wait") << true;
    }
    void waitsForADescriptor()
    {
        QFETCH(bool, hang);
        TestWhoisServer server([hang](const QByteArray &) {
            TestWhoisServer::Reply reply{"Domain Name: EXAMPLE.COM\r\n"};
            reply.hang = hang;
            return reply;
        });
        Whois43Limits limits;
        limits.connectTimeoutMs = 300;
        limits.answerTimeoutMs = 300;
        Whois43Client client({}, limits);
        QSignalSpy spy(&client, &Whois43Client::finished);

        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        int highest = 0;
        for (int fd = 0; fd < 4096; ++fd) {
            if (::fcntl(fd, F_GETFD) != -1)
                highest = fd;
        }
        rlimit low = saved;
        low.rlim_cur = rlim_t(highest + 16);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> taken;
        for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
            taken.push_back(fd);
        const int error = errno;
        const auto release = [&] {
            for (int fd : taken)
                ::close(fd);
            taken.clear();
            ::setrlimit(RLIMIT_NOFILE, &saved);
        };
        if (error != EMFILE) {
            release();
            QSKIP("descriptors could not be used up");
        }
        QElapsedTimer clock;
        clock.start();
        client.start(Whois43Request{QStringLiteral("127.0.0.1"), server.port(), "x", false});
        QTest::qWait(700); // beyond both deadlines
        const bool endedEarly = !spy.isEmpty();
        release();
        QVERIFY2(
            !endedEarly,
            qPrintable(spy.isEmpty() ? QString() : spy.at(0).at(0).value<Whois43Answer>().reason));
        QVERIFY(spy.wait(5000));
        const auto answer = spy.at(0).at(0).value<Whois43Answer>();
        QCOMPARE(answer.failure, hang ? Failure::Timeout : Failure::None);
        QVERIFY(clock.elapsed() >= 700);
    }

    void connectRefused()
    {
        quint16 port = 0;
        {
            TestWhoisServer closed(QByteArray{});
            port = closed.port();
        }
        const Whois43Answer answer = ask(port, "x");
        QCOMPARE(answer.failure, Failure::ConnectRefused);
    }

    void mappedHostAndPrivateReferral_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<Failure>("failure");
        QTest::newRow("mapped name") << "whois.example.net" << true << Failure::None;
        QTest::newRow("literal, trusted") << "127.0.0.1" << false << Failure::None;
        QTest::newRow("literal, from a referral")
            << "127.0.0.1" << true << Failure::RefusedPrivateAddress;
        QTest::newRow("mapped v4-mapped literal") << "::ffff:10.0.0.1" << true << Failure::None;
    }
    void mappedHostAndPrivateReferral()
    {
        QFETCH(QString, host);
        QFETCH(bool, refuse);
        QFETCH(Failure, failure);
        TestWhoisServer server(QByteArray("answer\n"));
        const ConnectToMap map = ConnectToMap::parse(
            server.mapping(QStringLiteral("whois.example.net")) +
            QStringLiteral(",[::ffff:10.0.0.1]:43:127.0.0.1:") + QString::number(server.port()));
        Whois43Client client(map);
        QSignalSpy spy(&client, &Whois43Client::finished);
        const quint16 port = host == u"127.0.0.1" ? server.port() : 43;
        client.start(Whois43Request{host, port, "q", refuse});
        QVERIFY(spy.wait(5000));
        const auto answer = spy.at(0).at(0).value<Whois43Answer>();
        QCOMPARE(answer.failure, failure);
        QCOMPARE(answer.server, host + u':' + QString::number(port));
        QCOMPARE(server.queries.size(), failure == Failure::None ? 1 : 0);
    }
};

QUORVANE_REGISTER_TEST(TestWhois43Client)
#include "tst_whois43client.moc"
