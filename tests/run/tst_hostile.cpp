// Hostile servers on 127.0.0.1: every page that never ends, grows without bound, expands,
// loops or lies ends as a failed lookup within the run's bounds, and the run goes on.
#include "processmemory.h"
#include "results/resultstable.h"
#include "run/lookuprun.h"
#include "run/runfeed.h"
#include "testregistry.h"
#include "web/sitefetcher.h"

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <zlib.h>

namespace {

constexpr qint64 SizeCap = 1 << 20;
constexpr int TimeoutMs = 2000;

// A gzip stream that expands to `size` zero bytes.
QByteArray gzipOfZeros(qint64 size)
{
    z_stream z{};
    deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const QByteArray zeros(1 << 20, '\0');
    QByteArray out;
    char buffer[1 << 16];
    for (qint64 done = 0; done < size; done += zeros.size()) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
        z.avail_in = uInt(zeros.size());
        const int flush = done + zeros.size() >= size ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, qsizetype(sizeof buffer - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

// Answers each request by the last part of its path.
class HostileServer : public QObject
{
public:
    HostileServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                s->setParent(this);
                connect(s, &QTcpSocket::readyRead, this, [this, s] { request(s); });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    QString prefix() const
    {
        return QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort());
    }

private:
    static QByteArray head(const QByteArray &status, const QByteArray &headers)
    {
        return "HTTP/1.1 " + status + "\r\n" + headers + "\r\n";
    }

    void request(QTcpSocket *s)
    {
        QByteArray &pending = m_pending[s];
        pending += s->readAll();
        if (!pending.contains("\r\n\r\n"))
            return;
        const QByteArray target = pending.split(' ').value(1);
        pending.clear();
        const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
        const QByteArray html = "text/html; charset=utf-8";

        if (name == "drip") {
            s->write(head("200 OK", "Content-Type: " + html + "\r\nContent-Length: 100000\r\n"));
            auto *timer = new QTimer(s);
            connect(timer, &QTimer::timeout, s, [s] { s->write("x"); });
            timer->start(1000);
        } else if (name == "endless" || name == "fifty-mib") {
            // Streamed in blocks, so the server itself holds little of it.
            const bool endless = name == "endless";
            s->write(
                head("200 OK", "Content-Type: " + html +
                                   (endless ? QByteArray("\r\nConnection: close\r\n")
                                            : QByteArray("\r\nContent-Length: 52428800\r\n"))));
            const QByteArray block(64 * 1024, 'a');
            auto left = std::make_shared<qint64>(endless ? -1 : qint64(50) << 20);
            auto feed = [s, block, left] {
                while (*left != 0 && s->bytesToWrite() < 4 * block.size()) {
                    s->write(block);
                    if (*left > 0)
                        *left -= block.size();
                }
            };
            connect(s, &QTcpSocket::bytesWritten, s, feed);
            feed();
        } else if (name == "gzip-bomb") {
            static const QByteArray bomb = gzipOfZeros(qint64(1) << 30);
            s->write(head("200 OK", "Content-Type: " + html +
                                        "\r\nContent-Encoding: gzip\r\n"
                                        "Content-Length: " +
                                        QByteArray::number(bomb.size()) + "\r\n"));
            s->write(bomb);
        } else if (name == "loop") {
            s->write(head("302 Found", "Location: " + target + "\r\nContent-Length: 0\r\n"));
        } else if (name.startsWith("to-")) {
            const QByteArray where = name == "to-file"  ? "file:///etc/passwd"
                                     : name == "to-ftp" ? "ftp://127.0.0.1/record.txt"
                                                        : "data:text/html,<pre>Name: leaked</pre>";
            s->write(head("302 Found", "Location: " + where + "\r\nContent-Length: 0\r\n"));
        } else if (name == "header-flood") {
            QByteArray headers = "Content-Type: " + html + "\r\n";
            for (int i = 0; i < 100000; ++i)
                headers += "X-Flood-" + QByteArray::number(i) + ": " + QByteArray(40, 'h') + "\r\n";
            const QByteArray body = "<pre>Name: flood</pre>";
            s->write(head("200 OK",
                          headers + "Content-Length: " + QByteArray::number(body.size()) + "\r\n") +
                     body);
        } else if (name == "junk") {
            const QByteArray body = QByteArray("<pre>Name: a\xff\xfe") + '\0' +
                                    QByteArray("b\x80\r\n") + "Other: \xc3\x28 ok</pre>" +
                                    QByteArray("\0\x01\x02", 3);
            s->write(head("200 OK", "Content-Type: " + html + "\r\nContent-Length: " +
                                        QByteArray::number(body.size()) + "\r\n") +
                     body);
        } else if (name == "truncated-chunked") {
            s->write(
                head("200 OK", "Content-Type: " + html + "\r\nTransfer-Encoding: chunked\r\n") +
                "10\r\n<pre>Name: cut\r\n\r\n" + "400\r\npartial");
            s->disconnectFromHost();
            return;
        } else if (name == "close") {
            s->abort();
            return;
        } else {
            const QByteArray body = "<pre>Name: " + name + "</pre>";
            s->write(head("200 OK", "Content-Type: " + html + "\r\nContent-Length: " +
                                        QByteArray::number(body.size()) + "\r\n") +
                     body);
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

} // namespace

class HostileServerTests : public QObject
{
    Q_OBJECT

private slots:
    void everyHostilePageFailsAndTheRunGoesOn()
    {
        HostileServer server;
        qputenv("QUORVANE_SITE1_URL", server.prefix().toUtf8());
        const QStringList failing{QStringLiteral("drip"),
                                  QStringLiteral("endless"),
                                  QStringLiteral("fifty-mib"),
                                  QStringLiteral("gzip-bomb"),
                                  QStringLiteral("loop"),
                                  QStringLiteral("to-file"),
                                  QStringLiteral("to-ftp"),
                                  QStringLiteral("to-data"),
                                  QStringLiteral("close"),
                                  QStringLiteral("header-flood"),
                                  QStringLiteral("truncated-chunked")};
        QStringList addresses = failing;
        addresses << QStringLiteral("junk") << QStringLiteral("after");

        ResultsTable table;
        table.ResetResultsTable();
        RunOptions options;
        options.site = [] { return std::optional<Site>(Site::Option1); };
        options.delayText = [] { return QStringLiteral("0"); };
        options.limits.timeoutMs = TimeoutMs;
        options.limits.sizeCap = SizeCap;
        LookupRun run(addresses, std::move(options));
        feedResultsTable(run, table);
        QSignalSpy done(&run, &LookupRun::finished);
        // Read before the run; compared only where the sanitizers do not inflate the heap.
        [[maybe_unused]] const double peakBefore = processMemoryMiB("VmHWM:");
        run.start();
        QVERIFY(done.wait(addresses.size() * (TimeoutMs + 3000)));

        QCOMPARE(table.itemCount(), addresses.size());
        for (int i = 1; i <= failing.size(); ++i)
            QCOMPARE(table.itemText(i), QStringLiteral("Invalid input: ") + failing[i - 1]);

        // Broken bytes are a page all the same: decoded with replacement characters, and NUL
        // never reaches the table.
        const int junk = int(failing.size()) + 1;
        QCOMPARE(table.itemText(junk), QStringLiteral("junk"));
        const QString name =
            table.subItem(junk, table.FindResultColumn(QStringLiteral("Name")) - 1);
        QVERIFY2(name.startsWith(QStringLiteral("a\uFFFD")), qPrintable(name));
        QVERIFY(!name.contains(QChar(0)));
        QVERIFY(table.FindResultColumn(QStringLiteral("Other")) > 1);

        QCOMPARE(table.itemText(junk + 1), QStringLiteral("after"));
        QCOMPARE(table.subItem(junk + 1, table.FindResultColumn(QStringLiteral("Name")) - 1),
                 QStringLiteral("after"));

#if !defined(__SANITIZE_ADDRESS__)
        // Nothing near the 50 MiB body or the gigabyte the bomb expands to was held.
        QVERIFY2(processMemoryMiB("VmHWM:") - peakBefore < 200,
                 qPrintable(QStringLiteral("peak grew by %1 MiB")
                                .arg(processMemoryMiB("VmHWM:") - peakBefore)));
#endif
    }
};

QUORVANE_REGISTER_TEST(HostileServerTests)
#include "tst_hostile.moc"
