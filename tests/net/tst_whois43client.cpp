#include "fixedresolver.h"
#include "net/whois43client.h"
#include "testregistry.h"
#include "testsocksserver.h"
#include "testwhoisserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <optional>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using Failure = Whois43Answer::Failure;
using namespace Qt::StringLiterals;
Q_DECLARE_METATYPE(TestWhoisServer::Reply)

namespace {

Whois43Answer ask(quint16 port, const QByteArray &query, const Whois43Limits &limits = {},
                  const ProxySettings &proxy = {},
                  const QString &host = QStringLiteral("127.0.0.1"), bool refuseNonPublic = false,
                  const ConnectToMap &connectTo = {})
{
    Whois43Client client(connectTo, limits);
    client.setProxy(proxy);
    QSignalSpy spy(&client, &Whois43Client::finished);
    client.start(Whois43Request{host, port, query, refuseNonPublic});
    if (!spy.wait(10000))
        qFatal("no answer");
    return spy.at(0).at(0).value<Whois43Answer>();
}

} // namespace

class TestWhois43Client : public QObject
{
    Q_OBJECT

private slots:
    // One client asked again and again, as a source reuses its clients: each exchange is its
    // own, whatever the one before it left behind (a reset, a timeout, an answer too large, an
    // abort, a refused connection).
    void reused_data()
    {
        QTest::addColumn<QList<TestWhoisServer::Reply>>("replies");
        QTest::addColumn<QList<Failure>>("failures");
        QTest::addColumn<int>("abortAt"); // the exchange aborted at once, or -1
        const TestWhoisServer::Reply first{"Domain Name: FIRST.EXAMPLE\r\n"};
        const TestWhoisServer::Reply second{"Domain Name: SECOND.EXAMPLE\r\nRegistrar: R\r\n"};
        // Slower than the first exchange's time left when a stale deadline would cut it.
        const TestWhoisServer::Reply slow{second.bytes, false, false, 350};
        QTest::newRow("whole after whole")
            << QList{first, second, first} << QList{Failure::None, Failure::None, Failure::None}
            << -1;
        QTest::newRow("whole after a reset")
            << QList{TestWhoisServer::Reply{first.bytes, true}, second}
            << QList{Failure::Reset, Failure::None} << -1;
        QTest::newRow("slow whole after a timeout")
            << QList{TestWhoisServer::Reply{{}, false, true}, slow}
            << QList{Failure::Timeout, Failure::None} << -1;
        QTest::newRow("whole after too large")
            << QList{TestWhoisServer::Reply{QByteArray(2 << 20, 'x')}, second}
            << QList{Failure::TooLarge, Failure::None} << -1;
        QTest::newRow("whole after an abort")
            << QList{TestWhoisServer::Reply{{}, false, true}, slow}
            << QList{Failure::Aborted, Failure::None} << 0;
    }
    void reused()
    {
        QFETCH(QList<TestWhoisServer::Reply>, replies);
        QFETCH(QList<Failure>, failures);
        QFETCH(int, abortAt);
        TestWhoisServer server([replies](const QByteArray &query) {
            return replies.value(query.trimmed().mid(1).toInt());
        });
        Whois43Limits limits;
        limits.answerTimeoutMs = 500;
        Whois43Client client({}, limits);
        QSignalSpy spy(&client, &Whois43Client::finished);
        for (qsizetype i = 0; i < replies.size(); ++i) {
            std::optional<Whois43Answer> called;
            client.start(Whois43Request{QStringLiteral("127.0.0.1"), server.port(),
                                        "q" + QByteArray::number(i), false},
                         [&called](const Whois43Answer &answer) { called = answer; });
            if (i == abortAt) {
                QTest::qWait(50);
                client.abort();
            }
            QTRY_VERIFY_WITH_TIMEOUT(called.has_value(), 5000);
            QCOMPARE(spy.size(), i + 1);
            const bool ok = failures[i] == Failure::None;
            QCOMPARE(called->failure, failures[i]);
            QCOMPARE(called->ok, ok);
            QCOMPARE(called->bytes, ok ? replies[i].bytes : QByteArray());
            if (ok) {
                QCOMPARE(called->received, qint64(replies[i].bytes.size()));
                QCOMPARE(called->reason, QString());
            }
            QCOMPARE(spy.at(i).at(0).value<Whois43Answer>().bytes, called->bytes);
        }
        // Nothing of an earlier exchange comes late.
        QTest::qWait(600);
        QCOMPARE(spy.size(), replies.size());
    }

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
        // What came before a reset is counted, though never offered as a record.
        QCOMPARE(answer.received,
                 failure == Failure::TooLarge ? answer.received : qint64(reply.bytes.size()));
        QCOMPARE(answer.reason.isEmpty(), ok);
        QCOMPARE(server.queries, QList<QByteArray>{"example.com\r\n"});
    }

    // The connect deadline covers the connection only: a server that accepts at once and
    // answers after it is a whole answer.
    void slowAnswerAfterAQuickConnection()
    {
        TestWhoisServer server([](const QByteArray &) {
            TestWhoisServer::Reply reply{"Domain Name: EXAMPLE.COM\r\n"};
            reply.delayMs = 600;
            return reply;
        });
        Whois43Limits limits;
        limits.connectTimeoutMs = 200;
        limits.answerTimeoutMs = 5000;
        const Whois43Answer answer = ask(server.port(), "example.com", limits);
        QVERIFY2(answer.ok, qPrintable(answer.reason));
        QCOMPARE(answer.bytes, QByteArray("Domain Name: EXAMPLE.COM\r\n"));
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
        // The reason names the address and port the connection went to.
        QCOMPARE(answer.reason, u"cannot connect to 127.0.0.1 port %1: %2"_s.arg(port).arg(
                                    QString::fromLocal8Bit(strerror(ECONNREFUSED))));
    }

    // A name's addresses are tried in turn while connections to them are refused.
    void nextAddressAfterARefusal_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("peer");
        QTest::newRow("first refuses")
            << QStringList{u"127.0.0.2"_s, u"127.0.0.1"_s} << Failure::None << u"127.0.0.1"_s;
        QTest::newRow("first answers")
            << QStringList{u"127.0.0.1"_s, u"127.0.0.2"_s} << Failure::None << u"127.0.0.1"_s;
        QTest::newRow("all refuse")
            << QStringList{u"127.0.0.2"_s, u"127.0.0.3"_s} << Failure::ConnectRefused << QString();
        QTest::newRow("none") << QStringList{} << Failure::HostNotFound << QString();
    }
    void nextAddressAfterARefusal()
    {
        QFETCH(QStringList, addresses);
        QFETCH(Failure, failure);
        QFETCH(QString, peer);
        TestWhoisServer server(QByteArray("answer\n"));
        QList<IpAddress> found;
        for (const QString &address : addresses)
            found << IpAddress::fromString(address);
        FixedResolver resolver(found);
        Whois43Client client;
        client.setResolver(&resolver);
        QSignalSpy spy(&client, &Whois43Client::finished);
        client.start(Whois43Request{u"whois.example.test"_s, server.port(), "q", false});
        QVERIFY(spy.wait(5000));
        const auto answer = spy.at(0).at(0).value<Whois43Answer>();
        QCOMPARE(answer.failure, failure);
        QCOMPARE(answer.ok ? answer.peerAddress.toString() : QString(), peer);
        QCOMPARE(answer.bytes, answer.ok ? QByteArray("answer\n") : QByteArray());
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
        // A name is looked up, and what it leads to is judged.
        QTest::newRow("name, trusted") << "localhost" << false << Failure::None;
        QTest::newRow("name, from a referral")
            << "localhost" << true << Failure::RefusedPrivateAddress;
        QTest::newRow("mapped v4-mapped literal") << "::ffff:10.0.0.1" << true << Failure::None;
        // IPv6 forms that lead to an IPv4 address are judged by it.
        QTest::newRow("IPv4-compatible loopback, from a referral")
            << "::127.0.0.1" << true << Failure::RefusedPrivateAddress;
        QTest::newRow("NAT64 of a private address, from a referral")
            << "64:ff9b::a00:1" << true << Failure::RefusedPrivateAddress;
        QTest::newRow("6to4 of a private address, from a referral")
            << "2002:c0a8:101::1" << true << Failure::RefusedPrivateAddress;
        // An entry for any host on a port chooses no host: it exempts none.
        QTest::newRow("unmapped name under a port-only entry, from a referral")
            << "whois.other.test" << true << Failure::RefusedPrivateAddress;
    }
    void mappedHostAndPrivateReferral()
    {
        QFETCH(QString, host);
        QFETCH(bool, refuse);
        QFETCH(Failure, failure);
        TestWhoisServer server(QByteArray("answer\n"));
        const ConnectToMap map = ConnectToMap::parse(
            server.mapping(QStringLiteral("whois.example.net")) +
            QStringLiteral(",[::ffff:10.0.0.1]:43:127.0.0.1:") + QString::number(server.port()) +
            QStringLiteral(",:4343:127.0.0.1:") + QString::number(server.port()));
        Whois43Client client(map);
        QSignalSpy spy(&client, &Whois43Client::finished);
        const quint16 port = host == u"127.0.0.1" || host == u"localhost" ? server.port()
                             : host == u"whois.other.test"                ? 4343
                                                                          : 43;
        client.start(Whois43Request{host, port, "q", refuse});
        QVERIFY(spy.wait(5000));
        const auto answer = spy.at(0).at(0).value<Whois43Answer>();
        QCOMPARE(answer.failure, failure);
        QCOMPARE(answer.server, host + u':' + QString::number(port));
        QCOMPARE(server.queries.size(), failure == Failure::None ? 1 : 0);
    }

    // Port 43 through a SOCKS5 proxy: socks5h:// leaves the name to the proxy, socks5:// hands
    // it the address looked up here; a login when the proxy asks; the proxy's refusal is the
    // answer's failure; NO_PROXY's hosts go directly.
    void throughASocks5Proxy_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("login");
        QTest::addColumn<QString>("noProxy");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("proxyAsked"); // "type host": what the proxy was asked for
        QTest::newRow("name left to the proxy")
            << "socks5h"
            << "whois.proxied.test" << false << "" << Failure::None << "3 whois.proxied.test";
        QTest::newRow("an address, given to the proxy as one")
            << "socks5"
            << "127.0.0.1" << false << "" << Failure::None << "1 127.0.0.1";
        QTest::newRow("with a login")
            << "socks5h"
            << "whois.proxied.test" << true << "" << Failure::None << "3 whois.proxied.test";
        QTest::newRow("a name the proxy does not know")
            << "socks5h"
            << "whois.unknown.test" << false << "" << Failure::HostNotFound
            << "3 whois.unknown.test";
        QTest::newRow("server refuses") << "socks5h"
                                        << "whois.closed.test" << false << ""
                                        << Failure::ConnectRefused << "3 whois.closed.test";
        QTest::newRow("host asked directly")
            << "socks5h"
            << "127.0.0.1" << false << "example.org, 127.0.0.1" << Failure::None << "";
    }
    void throughASocks5Proxy()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, host);
        QFETCH(bool, login);
        QFETCH(QString, noProxy);
        QFETCH(Failure, failure);
        QFETCH(QString, proxyAsked);
        TestWhoisServer server(QByteArray("Domain Name: EXAMPLE.COM\r\n"));
        quint16 closedPort = 0;
        {
            TestWhoisServer closed(QByteArray{});
            closedPort = closed.port();
        }
        TestSocksServer proxy;
        proxy.names.insert(QStringLiteral("whois.proxied.test"), server.port());
        proxy.names.insert(QStringLiteral("whois.closed.test"), closedPort);
        if (login) {
            proxy.user = QStringLiteral("user");
            proxy.password = QStringLiteral("secret");
        }
        const auto settings = ProxySettings::forEverything(proxy.url(scheme), noProxy);
        QVERIFY(settings.has_value());
        const bool literal = !IpAddress::fromString(host).isNull();
        const Whois43Answer answer =
            ask(literal ? server.port() : 43, "example.com", {}, *settings, host);
        QVERIFY2(answer.failure == failure, qPrintable(answer.reason));
        QCOMPARE(server.queries.size(), failure == Failure::None ? 1 : 0);
        QStringList asked;
        for (const TestSocksServer::Request &r : std::as_const(proxy.requests))
            asked << QString::number(r.addressType) + u' ' + r.host;
        QCOMPARE(asked.join(u','), proxyAsked);
        if (!proxyAsked.isEmpty())
            QCOMPARE(proxy.requests.front().port, literal ? server.port() : 43);
    }

    // Through a proxy that looks names up itself, an address written as the referral's host is
    // still checked here, before the proxy is even contacted.
    void privateAddressRefusedBeforeTheProxy()
    {
        TestWhoisServer server(QByteArray("answer\n"));
        TestSocksServer proxy;
        const Whois43Answer answer =
            ask(server.port(), "q", {}, *ProxySettings::forEverything(proxy.url(), {}),
                QStringLiteral("127.0.0.1"), true);
        QCOMPARE(answer.failure, Failure::RefusedPrivateAddress);
        QCOMPARE(proxy.connections, 0);
        QVERIFY(server.queries.isEmpty());
    }
};

QUORVANE_REGISTER_TEST(TestWhois43Client)
#include "tst_whois43client.moc"
