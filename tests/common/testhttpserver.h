#pragma once

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// A small HTTP/1.1 server on 127.0.0.1 for tests: records every request target and answers
// each through a handler, optionally late or never.
class TestHttpServer : public QObject
{
public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "text/html; charset=utf-8";
        int delayMs = 0;           // answer this much later
        bool hang = false;         // never answer
        bool reset = false;        // close the connection without an answer
        QList<QByteArray> headers; // further "Name: value" lines
    };

    explicit TestHttpServer(std::function<Response(const QByteArray &target)> handler)
        : m_handler(std::move(handler))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    QString baseUrl() const
    {
        return QStringLiteral("http://127.0.0.1:") + QString::number(m_server.serverPort());
    }

    QList<QByteArray> targets;
    QList<qint64> arrivals; // when each request came, ms since the epoch

private:
    void serve(QTcpSocket *socket)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            QByteArray &request = m_pending[socket];
            request += socket->readAll();
            if (!request.contains("\r\n\r\n"))
                return;
            const QByteArray line = request.left(request.indexOf("\r\n"));
            request.clear();
            const QList<QByteArray> parts = line.split(' ');
            const QByteArray target = parts.size() >= 2 ? parts[1] : QByteArray();
            targets.append(target);
            arrivals.append(QDateTime::currentMSecsSinceEpoch());
            const Response response = m_handler(target);
            if (response.hang)
                return;
            if (response.reset) {
                socket->abort();
                return;
            }
            QPointer<QTcpSocket> guarded(socket);
            auto answer = [guarded, response] {
                if (!guarded)
                    return;
                QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n";
                head += "Content-Type: " + response.contentType + "\r\n";
                head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
                for (const QByteArray &header : response.headers)
                    head += header + "\r\n";
                head += "Connection: close\r\n\r\n";
                guarded->write(head + response.body);
                guarded->disconnectFromHost();
            };
            if (response.delayMs > 0)
                QTimer::singleShot(response.delayMs, this, answer);
            else
                answer();
        });
    }

    QTcpServer m_server;
    std::function<Response(const QByteArray &)> m_handler;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
