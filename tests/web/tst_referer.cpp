// A redirect to another server must not tell that server which page sent the browser there:
// the page address carries the looked-up address.

#include "testregistry.h"
#include "web/sitefetcher.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Answers every request on 127.0.0.1 with the same bytes and keeps each request's head.
class HeadRecorder : public QObject
{
public:
    explicit HeadRecorder(QByteArray answer) : m_answer(std::move(answer))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_buffer += socket->readAll();
                    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    heads.append(m_buffer.left(end).toLower());
                    m_buffer.clear();
                    socket->write(m_answer);
                    socket->disconnectFromHost();
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    QByteArray base() const
    {
        return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort());
    }

    QList<QByteArray> heads;

private:
    QTcpServer m_server;
    QByteArray m_answer;
    QByteArray m_buffer;
};

QByteArray response(const QByteArray &status, const QByteArray &headers, const QByteArray &body)
{
    return "HTTP/1.1 " + status + "\r\n" + headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

} // namespace

class TestRedirectReferer : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("QUORVANE_SITE1_URL"); }

    void redirectToAnotherServerSendsNoReferer()
    {
        HeadRecorder target(
            response("200 OK", "Content-Type: text/html\r\n",
                     "<html><body><pre>Domain Name: EXAMPLE.COM</pre></body></html>"));
        HeadRecorder first(
            response("302 Found", "Location: " + target.base() + "/landing\r\n", QByteArray()));
        qputenv("QUORVANE_SITE1_URL", first.base() + "/whois/");

        SiteFetcher fetcher;
        QSignalSpy spy(&fetcher, &SiteFetcher::finished);
        fetcher.FetchWhoisRecord(Site::Option1, u"secret-lookup.example"_s);
        QVERIFY(spy.wait(10000));
        QVERIFY(spy.first().at(0).value<LookupResult>().ok());
        QCOMPARE(first.heads.size(), 1);
        QCOMPARE(target.heads.size(), 1);
        QVERIFY2(target.heads[0].startsWith("get /landing "), target.heads[0].constData());
        QVERIFY2(!target.heads[0].contains("\r\nreferer:"), target.heads[0].constData());
        QVERIFY(!target.heads[0].contains("secret-lookup"));
    }
};

QUORVANE_REGISTER_TEST(TestRedirectReferer)
#include "tst_referer.moc"
