#include "fixtures.h"
#include "lookup/recordlines.h"
#include "net/curlmulti.h"
#include "testregistry.h"
#include "web/sitefetcher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QPointer>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>

#include <functional>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

QByteArray httpResponse(int status, const QByteArray &body, const QByteArray &headers = {},
                        const QByteArray &contentType = "text/html")
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += headers;
    head += "\r\n";
    return head + body;
}

// The body as a zlib stream (Content-Encoding: deflate).
QByteArray deflated(const QByteArray &body)
{
    return qCompress(body, 9).mid(4);
}

// An HTTP server on 127.0.0.1 that records each request as it arrived on the wire and lets
// the test answer with raw bytes, late, slowly, broken off or not at all.
class RawHttpServer : public QObject
{
public:
    struct Request
    {
        QByteArray line;
        QByteArray target;
        QByteArray head;
    };
    using Handler = std::function<void(const Request &, QTcpSocket *)>;

    explicit RawHttpServer(Handler handler) : m_handler(std::move(handler))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        if (!m_server.listen(QHostAddress::LocalHost))
            qFatal("cannot listen");
    }

    QByteArray base() const
    {
        return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort());
    }

    QList<Request> requests;

private:
    void serve(QTcpSocket *socket)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            QByteArray &buffer = m_buffers[socket];
            buffer += socket->readAll();
            // Requests without a body, one after another on a kept-alive connection.
            for (qsizetype end; (end = buffer.indexOf("\r\n\r\n")) >= 0;) {
                Request request;
                request.head = buffer.left(end);
                request.line = buffer.left(buffer.indexOf("\r\n"));
                request.target = request.line.split(' ').value(1);
                buffer.remove(0, end + 4);
                requests.append(request);
                m_handler(request, socket);
            }
        });
    }

    QTcpServer m_server;
    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

void answer(QTcpSocket *socket, const QByteArray &bytes)
{
    socket->write(bytes);
}

// Sends the bytes one at a time, one every `intervalMs`.
void drip(QTcpSocket *socket, const QByteArray &bytes, int intervalMs)
{
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, bytes, sent, timer] {
        if (*sent >= bytes.size()) {
            timer->stop();
            return;
        }
        socket->write(bytes.mid((*sent)++, 1));
    });
    timer->start(intervalMs);
}

const QByteArray kRecordPage =
    "<html><body><div id=\"whoisRecordContainer\">Domain Name: EXAMPLE.COM<br>Status: "
    "active</div></body></html>";

struct Outcome
{
    bool ok = false;
    QString record;
    qint64 elapsedMs = 0;
};

} // namespace

class TestSiteFetcher : public QObject
{
    Q_OBJECT

    // Points the three sites at the server, with the paths of the real ones.
    void pointSitesAt(const RawHttpServer &server)
    {
        qputenv("QUORVANE_SITE1_URL", server.base() + "/whois/");
        qputenv("QUORVANE_SITE2_URL", server.base() + "/");
        qputenv("QUORVANE_SITE3_URL", server.base() + "/ui?queryinput=");
    }

    Outcome fetch(SiteFetcher &fetcher, Site site, const QString &address, int waitMs = 15000)
    {
        QSignalSpy spy(&fetcher, &SiteFetcher::finished);
        QElapsedTimer clock;
        clock.start();
        fetcher.FetchWhoisRecord(site, address);
        [&] { QVERIFY(spy.wait(waitMs)); }();
        Outcome outcome;
        outcome.elapsedMs = clock.elapsed();
        if (spy.isEmpty())
            return outcome;
        const auto result = spy.first().at(0).value<LookupResult>();
        // A page without a record element is a page all the same.
        outcome.ok = result.ok() || result.reason == FailureReason::NoRecord;
        outcome.record = QString::fromUtf8(result.recordText);
        return outcome;
    }

private slots:
    void cleanup()
    {
        qunsetenv("QUORVANE_SITE1_URL");
        qunsetenv("QUORVANE_SITE2_URL");
        qunsetenv("QUORVANE_SITE3_URL");
    }

    void pageOfEachLayout_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QString>("firstField");
        QTest::addColumn<int>("fieldCount");
        QTest::newRow("Option1") << 1 << fixture("option1_pre.html") << u"Domain Name=EXAMPLE.COM"_s
                                 << 16;
        QTest::newRow("Option2") << 2 << fixture("option2_div.html") << u"Domain Name=EXAMPLE.COM"_s
                                 << 11;
        QTest::newRow("Option3") << 3 << fixture("option3_table.html") << u"Name=\tTEST-NET-1"_s
                                 << 10;
    }

    void pageOfEachLayout()
    {
        QFETCH(int, site);
        QFETCH(QByteArray, page);
        QFETCH(QString, firstField);
        QFETCH(int, fieldCount);
        RawHttpServer server([&](const RawHttpServer::Request &, QTcpSocket *socket) {
            answer(socket, httpResponse(200, page, {}, "text/html; charset=utf-8"));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        const Outcome outcome = fetch(fetcher, Site(site), u"example.com"_s);
        QVERIFY(outcome.ok);
        QStringList fields;
        for (const QString &line : SplitRecordLines(outcome.record)) {
            if (const auto field = ParseRecordLine(line))
                fields.append(field->name + u'=' + field->value);
        }
        QCOMPARE(fields.size(), fieldCount);
        QCOMPARE(fields.first(), firstField);
        QVERIFY(!fetcher.isFetching());
    }

    void requestTarget_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("Option1 domain")
            << 1 << u"example.com"_s << QByteArray("/whois/example.com");
        QTest::newRow("Option2 domain") << 2 << u"Example.COM"_s << QByteArray("/Example.COM");
        QTest::newRow("Option3 address")
            << 3 << u"192.0.2.1"_s << QByteArray("/ui?queryinput=192.0.2.1");
        QTest::newRow("spaces kept, encoded")
            << 2 << u"  example.com "_s << QByteArray("/%20%20example.com%20");
        QTest::newRow("question mark as typed")
            << 1 << u"a?b=c&d"_s << QByteArray("/whois/a?b=c&d");
        QTest::newRow("escapes as typed, never decoded")
            << 1 << u"%41%2e%2F"_s << QByteArray("/whois/%41%2e%2F");
        QTest::newRow("other printable characters as typed")
            << 1 << u"a|b\"c<d>{}^`'"_s << QByteArray("/whois/a|b\"c<d>{}^`'");
        QTest::newRow("escape as typed")
            << 3 << u"192.0.2.0%2F24"_s << QByteArray("/ui?queryinput=192.0.2.0%2F24");
        QTest::newRow("slash as typed")
            << 3 << u"192.0.2.0/24"_s << QByteArray("/ui?queryinput=192.0.2.0/24");
        QTest::newRow("percent starting no escape")
            << 1 << u"fe80::1%eth0"_s << QByteArray("/whois/fe80::1%25eth0");
        QTest::newRow("percent at the end") << 1 << u"a%4"_s << QByteArray("/whois/a%254");
        QTest::newRow("hash would end the target") << 1 << u"a#b"_s << QByteArray("/whois/a%23b");
        QTest::newRow("control characters")
            << 1 << u"a\tb\u0001"_s << QByteArray("/whois/a%09b%01");
        QTest::newRow("non-ASCII as UTF-8")
            << 1 << u"b\u00fccher.de"_s << QByteArray("/whois/b%C3%BCcher.de");
        QTest::newRow("empty address") << 2 << QString() << QByteArray("/");
    }

    void requestTarget()
    {
        QFETCH(int, site);
        QFETCH(QString, address);
        QFETCH(QByteArray, target);
        RawHttpServer server([](const RawHttpServer::Request &, QTcpSocket *socket) {
            answer(socket, httpResponse(200, kRecordPage));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        QVERIFY(fetch(fetcher, Site(site), address).ok);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests.first().line, "GET " + target + " HTTP/1.1");
    }

    void outcome_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("record");
        const QString record = u"Domain Name: EXAMPLE.COM\r\nStatus: active"_s;
        QTest::newRow("record") << QByteArray("plain") << true << record;
        QTest::newRow("page without the element") << QByteArray("other") << true << QString();
        QTest::newRow("404 holding the element") << QByteArray("404") << true << record;
        QTest::newRow("500 holding the element") << QByteArray("500") << true << record;
        QTest::newRow("redirect") << QByteArray("redirect") << true << record;
        QTest::newRow("relative redirect chain") << QByteArray("chain3") << true << record;
        QTest::newRow("ten redirects") << QByteArray("chain10") << true << record;
        QTest::newRow("an eleventh redirect") << QByteArray("chain11") << false << QString();
        QTest::newRow("redirect to file:") << QByteArray("tofile") << false << QString();
        QTest::newRow("redirect to ftp:") << QByteArray("toftp") << false << QString();
        QTest::newRow("redirect to data:") << QByteArray("todata") << false << QString();
        QTest::newRow("deflate-encoded page") << QByteArray("deflate") << true << record;
        QTest::newRow("windows-1252 page")
            << QByteArray("cp1252") << true << u"Registrant: Fran\u00e7ois \u20ac"_s;
        QTest::newRow("body cut short") << QByteArray("short") << false << QString();
        QTest::newRow("chunked page") << QByteArray("chunked") << true << record;
        QTest::newRow("chunked, last chunk missing")
            << QByteArray("chunkedcut") << false << QString();
        QTest::newRow("chunked, cut within a chunk")
            << QByteArray("chunkedmid") << false << QString();
        QTest::newRow("many headers") << QByteArray("headers2000") << true << record;
        QTest::newRow("flood of headers") << QByteArray("headers20000") << false << QString();
        QTest::newRow("reset before an answer") << QByteArray("reset") << false << QString();
        QTest::newRow("reset within the body") << QByteArray("resetbody") << false << QString();
        QTest::newRow("reset within the body, closing connection")
            << QByteArray("resetclose") << false << QString();
        QTest::newRow("closed without an answer") << QByteArray("close") << false << QString();
        QTest::newRow("garbage answer") << QByteArray("garbage") << false << QString();
        QTest::newRow("never completes") << QByteArray("hang") << false << QString();
        QTest::newRow("one byte per 100 ms") << QByteArray("drip") << false << QString();
        QTest::newRow("20 MiB declared") << QByteArray("big") << false << QString();
        QTest::newRow("20 MiB undeclared") << QByteArray("bigstream") << false << QString();
        QTest::newRow("deflate bomb") << QByteArray("bomb") << false << QString();
        QTest::newRow("binary junk") << QByteArray("junk") << true << QString();
    }

    void outcome()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, ok);
        QFETCH(QString, record);
        const QByteArray big(20 << 20, 'x');
        RawHttpServer *self = nullptr;
        RawHttpServer server([&](const RawHttpServer::Request &request, QTcpSocket *socket) {
            const QByteArray name = request.target.mid(request.target.lastIndexOf('/') + 1);
            if (name == "plain" || name == "final") {
                answer(socket, httpResponse(200, kRecordPage));
            } else if (name == "other") {
                answer(socket, httpResponse(200, fixture("no_record.html")));
            } else if (name == "404" || name == "500") {
                answer(socket, httpResponse(name.toInt(), kRecordPage));
            } else if (name == "redirect") {
                answer(socket, httpResponse(302, "moved",
                                            "Location: " + self->base() + "/whois/final\r\n"));
            } else if (name.startsWith("chain")) {
                const int left = name.mid(5).toInt();
                const QByteArray next =
                    left > 1 ? "chain" + QByteArray::number(left - 1) : QByteArray("final");
                answer(socket,
                       httpResponse(left % 2 ? 301 : 307, {}, "Location: " + next + "\r\n"));
            } else if (name == "tofile") {
                answer(socket, httpResponse(302, {}, "Location: file:///etc/hostname\r\n"));
            } else if (name == "toftp") {
                answer(socket, httpResponse(302, {}, "Location: ftp://127.0.0.1/x\r\n"));
            } else if (name == "todata") {
                answer(socket,
                       httpResponse(302, {}, "Location: data:text/html,<pre>x:y</pre>\r\n"));
            } else if (name == "deflate") {
                answer(socket,
                       httpResponse(200, deflated(kRecordPage), "Content-Encoding: deflate\r\n"));
            } else if (name == "cp1252") {
                answer(socket,
                       httpResponse(
                           200, "<div id=whoisRecordContainer>Registrant: Fran\xe7ois \x80</div>",
                           {}, "text/html; charset=windows-1252"));
            } else if (name == "short") {
                socket->write(httpResponse(200, kRecordPage).chopped(10));
                socket->disconnectFromHost();
            } else if (name.startsWith("chunked")) {
                // Two chunks, then the closing zero chunk, or the connection dropped before it.
                const QByteArray half = kRecordPage.left(kRecordPage.size() / 2);
                const QByteArray rest = kRecordPage.mid(half.size());
                QByteArray bytes = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                   "Transfer-Encoding: chunked\r\n\r\n" +
                                   QByteArray::number(half.size(), 16) + "\r\n" + half + "\r\n" +
                                   QByteArray::number(rest.size(), 16) + "\r\n" + rest + "\r\n";
                if (name == "chunked")
                    bytes += "0\r\n\r\n";
                else if (name == "chunkedmid")
                    bytes.chop(rest.size() / 2);
                socket->write(bytes);
                socket->disconnectFromHost();
            } else if (name.startsWith("headers")) {
                QByteArray padding;
                for (int i = 0, n = name.mid(7).toInt(); i < n; ++i)
                    padding +=
                        "X-Padding-" + QByteArray::number(i) + ": " + QByteArray(20, 'h') + "\r\n";
                answer(socket, httpResponse(200, kRecordPage, padding));
            } else if (name == "reset") {
                socket->abort();
            } else if (name == "resetbody") {
                socket->write(httpResponse(200, kRecordPage + QByteArray(100000, ' ')).left(5000));
                socket->flush();
                QTimer::singleShot(50, socket, [socket] { socket->abort(); });
            } else if (name == "resetclose") {
                socket->write(httpResponse(200, kRecordPage + QByteArray(100000, ' '),
                                           "Connection: close\r\n")
                                  .left(5000));
                socket->flush();
                QTimer::singleShot(50, socket, [socket] { socket->abort(); });
            } else if (name == "close") {
                socket->disconnectFromHost();
            } else if (name == "garbage") {
                socket->write("NOT HTTP AT ALL\r\n\r\n");
                socket->disconnectFromHost();
            } else if (name == "hang") {
                socket->write(httpResponse(200, kRecordPage).left(60));
            } else if (name == "drip") {
                drip(socket, httpResponse(200, kRecordPage), 100);
            } else if (name == "big") {
                socket->write(httpResponse(200, big));
            } else if (name == "bigstream") {
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n");
                socket->write(big);
                socket->disconnectFromHost();
            } else if (name == "bomb") {
                answer(socket, httpResponse(200, deflated(QByteArray(64 << 20, ' ')),
                                            "Content-Encoding: deflate\r\n"));
            } else if (name == "junk") {
                QByteArray bytes(256 * 1024, Qt::Uninitialized);
                for (qsizetype i = 0; i < bytes.size(); ++i)
                    bytes[i] = char((i * 7919 + (i >> 5) * 104729) & 0xFF);
                answer(socket, httpResponse(200, bytes, {}, "application/octet-stream"));
            }
        });
        self = &server;
        pointSitesAt(server);
        SiteFetcher fetcher;
        fetcher.setTransferTimeout(800);
        const Outcome outcome = fetch(fetcher, Site::Option2, QString::fromLatin1(path));
        QCOMPARE(outcome.ok, ok);
        QCOMPARE(outcome.record, record);
        QVERIFY(outcome.elapsedMs < 5000);
        QVERIFY(!fetcher.isFetching());
    }

    // A page that holds no record says why: its HTTP status when that was an error. The row of
    // the table stays as a page without a record left it (reason NoRecord).
    void noRecordReason_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("200") << 200 << u"no record element on the page"_s;
        QTest::newRow("404") << 404 << u"HTTP 404 from 127.0.0.1"_s;
        QTest::newRow("502") << 502 << u"HTTP 502 from 127.0.0.1"_s;
    }
    void noRecordReason()
    {
        QFETCH(int, status);
        QFETCH(QString, error);
        RawHttpServer server([status](const RawHttpServer::Request &, QTcpSocket *socket) {
            answer(socket, httpResponse(status, "<html><body>Bad Gateway</body></html>"));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        QSignalSpy spy(&fetcher, &SiteFetcher::finished);
        fetcher.FetchWhoisRecord(Site::Option2, u"example.com"_s);
        QVERIFY(spy.wait(10000));
        const auto result = spy.first().at(0).value<LookupResult>();
        QCOMPARE(result.reason, FailureReason::NoRecord);
        QCOMPARE(result.error, error);
    }

    // The sites are asked over HTTPS.
    void builtInPagesAreHttps()
    {
        for (const Site site : {Site::Option1, Site::Option2, Site::Option3}) {
            const QUrl page(SiteTable::builtIn().pageAddress(site, u"example.com"_s));
            QCOMPARE(page.scheme(), u"https"_s);
            QCOMPARE(page.host(), Sites::host(site));
        }
    }

    void timeoutIsTotalTime()
    {
        // Steady progress does not extend the time a page may take.
        RawHttpServer server([](const RawHttpServer::Request &, QTcpSocket *socket) {
            drip(socket, httpResponse(200, kRecordPage), 20);
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        fetcher.setTransferTimeout(500);
        const Outcome outcome = fetch(fetcher, Site::Option1, u"x"_s);
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.elapsedMs >= 450 && outcome.elapsedMs < 2500,
                 qPrintable(QString::number(outcome.elapsedMs)));
    }

    void sizeCapCountsDecodedBytes()
    {
        const QByteArray page = kRecordPage + QByteArray(5000, ' ');
        RawHttpServer server([&](const RawHttpServer::Request &, QTcpSocket *socket) {
            answer(socket, httpResponse(200, deflated(page), "Content-Encoding: deflate\r\n"));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        fetcher.setSizeCap(page.size());
        QVERIFY(fetch(fetcher, Site::Option2, u"x"_s).ok);
        fetcher.setSizeCap(page.size() - 1);
        QVERIFY(!fetch(fetcher, Site::Option2, u"x"_s).ok);
    }

    void connectionRefused()
    {
        quint16 port;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        qputenv("QUORVANE_SITE1_URL", "http://127.0.0.1:" + QByteArray::number(port) + "/whois/");
        SiteFetcher fetcher;
        QVERIFY(!fetch(fetcher, Site::Option1, u"example.com"_s).ok);
    }

    void cookiesAndHeaders()
    {
        RawHttpServer server([](const RawHttpServer::Request &request, QTcpSocket *socket) {
            if (request.target.endsWith("/first"))
                answer(socket, httpResponse(200, kRecordPage, "Set-Cookie: visit=1; Path=/\r\n"));
            else
                answer(socket, httpResponse(200, kRecordPage));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        QVERIFY(fetch(fetcher, Site::Option2, u"first"_s).ok);
        QVERIFY(fetch(fetcher, Site::Option2, u"second"_s).ok);
        QCOMPARE(server.requests.size(), 2);
        const QByteArray second = server.requests.at(1).head;
        QVERIFY2(second.contains("\r\nCookie: visit=1"), second.constData());
        QVERIFY2(second.contains("\r\nUser-Agent: Mozilla/5.0 "), second.constData());

        // A new fetcher is a new run: the cookies stay behind.
        SiteFetcher another;
        QVERIFY(fetch(another, Site::Option2, u"third"_s).ok);
        QVERIFY(!server.requests.at(2).head.contains("Cookie:"));
    }

    void httpsNeedsATrustedCertificate()
    {
        QSslServer server;
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(fixture("untrusted.pem")));
        config.setPrivateKey(QSslKey(fixture("untrusted.key"), QSsl::Rsa));
        server.setSslConfiguration(config);
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int handshakes = 0;
        QByteArray received;
        connect(&server, &QSslServer::startedEncryptionHandshake, this, [&] { ++handshakes; });
        connect(&server, &QTcpServer::pendingConnectionAvailable, this, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [&, socket] {
                    received += socket->readAll();
                    if (received.endsWith("\r\n\r\n"))
                        socket->write(httpResponse(200, kRecordPage));
                });
            }
        });
        const QByteArray base = "https://127.0.0.1:" + QByteArray::number(server.serverPort());

        // The server is sound: a client that trusts its certificate gets the page.
        CurlMulti multi;
        CURL *easy = curl_easy_init();
        const QByteArray url = base + "/check";
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_CAINFO, QUORVANE_TEST_FIXTURES "/untrusted.pem");
        curl_easy_setopt(
            easy, CURLOPT_WRITEFUNCTION,
            +[](char *, size_t size, size_t count, void *) { return size * count; });
        std::optional<CURLcode> result;
        connect(&multi, &CurlMulti::done, this, [&](CURL *, CURLcode code) { result = code; });
        QVERIFY(multi.add(easy));
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 10000);
        curl_easy_cleanup(easy);
        QCOMPARE(*result, CURLE_OK);
        QVERIFY(received.startsWith("GET /check HTTP/1.1\r\n"));

        // The program trusts the system's authorities only: the handshake is broken off and
        // no request is sent.
        received.clear();
        qputenv("QUORVANE_SITE2_URL", base + "/");
        SiteFetcher fetcher;
        QVERIFY(!fetch(fetcher, Site::Option2, u"example.com"_s).ok);
        QCOMPARE(handshakes, 2);
        QCOMPARE(received, QByteArray());
    }

    void stopWhileTheNameIsLookedUp()
    {
        // Run by tst_lookup_dns, in a mount namespace whose resolv.conf names 127.0.0.1 only.
        if (qEnvironmentVariableIntValue("QUORVANE_DNS_BLACKHOLE") != 1)
            QSKIP("needs the name server of tst_lookup_dns");
        // A name server that takes every question and answers none.
        QUdpSocket nameServer;
        QVERIFY(nameServer.bind(QHostAddress::LocalHost, 53));
        int questions = 0;
        connect(&nameServer, &QUdpSocket::readyRead, this, [&] {
            while (nameServer.hasPendingDatagrams()) {
                nameServer.receiveDatagram();
                ++questions;
            }
        });
        qputenv("QUORVANE_SITE2_URL", "http://whois.unanswered.example/");
        SiteFetcher fetcher;
        QSignalSpy spy(&fetcher, &SiteFetcher::finished);
        fetcher.FetchWhoisRecord(Site::Option2, u"x"_s);
        QTRY_VERIFY(questions > 0);
        QElapsedTimer clock;
        clock.start();
        fetcher.abort();
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!fetcher.isFetching());

        // The deadline ends a fetch stuck in the look-up just as promptly.
        fetcher.setTransferTimeout(300);
        clock.restart();
        fetcher.FetchWhoisRecord(Site::Option2, u"y"_s);
        QVERIFY(spy.wait(3000));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(spy.first().at(0).value<LookupResult>().ok(), false);
    }

    void deadlineIsNeverEarly()
    {
        RawHttpServer server([](const RawHttpServer::Request &, QTcpSocket *) {});
        pointSitesAt(server);
        SiteFetcher fetcher;
        fetcher.setTransferTimeout(1000);
        const Outcome outcome = fetch(fetcher, Site::Option2, u"x"_s);
        QVERIFY(!outcome.ok);
        // A coarse timer may fire up to 5% early.
        QVERIFY2(outcome.elapsedMs >= 1000, qPrintable(QString::number(outcome.elapsedMs)));
    }

    void reconnectsNeverFailALookup()
    {
        // A server behind a load balancer: it keeps a connection open after answering, then
        // drops it when the next request arrives on it, unanswered.
        int connections = 0;
        RawHttpServer server([&](const RawHttpServer::Request &, QTcpSocket *socket) {
            if (socket->property("answered").toBool()) {
                socket->abort();
                return;
            }
            if (!socket->property("counted").toBool()) {
                socket->setProperty("counted", true);
                ++connections;
            }
            socket->setProperty("answered", true);
            answer(socket, httpResponse(200, kRecordPage));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        int ok = 0;
        for (int i = 0; i < 40; ++i)
            ok += fetch(fetcher, Site::Option2, u"n"_s + QString::number(i)).ok ? 1 : 0;
        QCOMPARE(ok, 40);
        QCOMPARE(connections, 40); // every request after the first went out again on a new one
    }

    void abortCancelsWithoutFinished()
    {
        RawHttpServer server([](const RawHttpServer::Request &request, QTcpSocket *socket) {
            if (request.target.endsWith("/slow"))
                return; // never answers
            answer(socket, httpResponse(200, kRecordPage));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        QSignalSpy spy(&fetcher, &SiteFetcher::finished);
        fetcher.FetchWhoisRecord(Site::Option2, u"slow"_s);
        QVERIFY(fetcher.isFetching());
        QTRY_COMPARE(server.requests.size(), 1);
        fetcher.abort();
        QVERIFY(!fetcher.isFetching());
        QTest::qWait(200);
        QCOMPARE(spy.size(), 0);

        // A fetch started while another is under way replaces it: one result, the new one's.
        fetcher.FetchWhoisRecord(Site::Option2, u"slow"_s);
        fetcher.FetchWhoisRecord(Site::Option2, u"fast"_s);
        QVERIFY(spy.wait(5000));
        QTest::qWait(100);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.first().at(0).value<LookupResult>().recordText,
                 QByteArray("Domain Name: EXAMPLE.COM\r\nStatus: active"));
    }

    void resultNeverArrivesSynchronously()
    {
        // Even a failure known at once (a page address that is no web address) arrives later.
        qputenv("QUORVANE_SITE1_URL", "file:///etc/");
        SiteFetcher fetcher;
        QSignalSpy spy(&fetcher, &SiteFetcher::finished);
        fetcher.FetchWhoisRecord(Site::Option1, u"hostname"_s);
        QCOMPARE(spy.size(), 0);
        QVERIFY(fetcher.isFetching());
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.first().at(0).value<LookupResult>().ok(), false);
    }

    void nextFetchFromTheFinishedSlot()
    {
        RawHttpServer server([](const RawHttpServer::Request &, QTcpSocket *socket) {
            answer(socket, httpResponse(200, kRecordPage));
        });
        pointSitesAt(server);
        SiteFetcher fetcher;
        int results = 0;
        connect(&fetcher, &SiteFetcher::finished, this, [&](const LookupResult &result) {
            QVERIFY(result.ok());
            if (++results < 3)
                fetcher.FetchWhoisRecord(Site::Option2, u"again"_s);
        });
        fetcher.FetchWhoisRecord(Site::Option2, u"first"_s);
        QTRY_COMPARE(results, 3);
        QCOMPARE(server.requests.size(), 3);
    }
};

QUORVANE_REGISTER_TEST(TestSiteFetcher)
#include "tst_sitefetcher.moc"
