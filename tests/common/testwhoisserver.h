#pragma once

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

#include <sys/socket.h>

// A port-43 server on 127.0.0.1 for tests: reads one query line (up to CR LF), records it, and
// answers through a handler: whole, then closed; or cut by a reset; or never.
class TestWhoisServer : public QObject
{
public:
    struct Reply
    {
        QByteArray bytes;
        bool reset = false; // send the bytes, then reset the connection
        bool hang = false;  // never answer, never close
        int delayMs = 0;    // answer this much later
    };
    using Handler = std::function<Reply(const QByteArray &query)>;

    explicit TestWhoisServer(Handler handler) : m_handler(std::move(handler))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        if (!m_server.listen(QHostAddress::LocalHost))
            qFatal("cannot listen");
    }
    // A server that always gives the same answer.
    explicit TestWhoisServer(const QByteArray &answer)
        : TestWhoisServer([answer](const QByteArray &) { return Reply{answer}; })
    {
    }

    quint16 port() const { return m_server.serverPort(); }
    // The curl-style connect-to entry that sends `host`:43 here.
    QString mapping(const QString &host) const
    {
        return host + QStringLiteral(":43:127.0.0.1:") + QString::number(port());
    }

    QList<QByteArray> queries; // as received, CR LF included
    QList<qint64> arrivals;    // when each query came, ms since the epoch

private:
    void serve(QTcpSocket *socket)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            m_pending[socket] += socket->readAll();
            const QByteArray request = m_pending[socket];
            if (!request.contains("\r\n"))
                return;
            m_pending.remove(socket);
            queries.append(request);
            arrivals.append(QDateTime::currentMSecsSinceEpoch());
            const Reply reply = m_handler(request.left(request.indexOf("\r\n")));
            if (reply.hang)
                return;
            if (reply.delayMs > 0) {
                QPointer<QTcpSocket> guarded(socket);
                QTimer::singleShot(reply.delayMs, this, [guarded, reply] {
                    if (guarded) {
                        guarded->write(reply.bytes);
                        guarded->disconnectFromHost();
                    }
                });
                return;
            }
            socket->write(reply.bytes);
            if (reply.reset) {
                socket->flush();
                // A zero linger time turns the close into a reset.
                const linger noLinger{1, 0};
                ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                             sizeof noLinger);
                socket->abort();
                return;
            }
            socket->disconnectFromHost();
        });
    }

    QTcpServer m_server;
    Handler m_handler;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
