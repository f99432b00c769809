#pragma once

#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A SOCKS5 proxy on 127.0.0.1 for tests (CONNECT only): no login, or a user name and password
// when `user` is set. Names are looked up in its own table (`names`, name -> 127.0.0.1 port),
// so a name only the proxy knows shows that the client left the look-up to it. Records what
// each client asked to reach, then relays bytes both ways.
class TestSocksServer : public QObject
{
public:
    struct Request
    {
        int addressType = 0; // 1 IPv4, 3 name, 4 IPv6
        QString host;
        quint16 port = 0;
    };

    TestSocksServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                serve(socket);
            }
        });
        if (!m_server.listen(QHostAddress::LocalHost))
            qFatal("cannot listen");
    }

    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &scheme = QStringLiteral("socks5h")) const
    {
        const QString login = user.isEmpty() ? QString() : user + u':' + password + u'@';
        return scheme + QStringLiteral("://") + login + QStringLiteral("127.0.0.1:") +
               QString::number(port());
    }

    QHash<QString, quint16> names;
    QString user;
    QString password;
    int connections = 0;
    QList<Request> requests;

private:
    enum class Phase
    {
        Greeting,
        Login,
        Request,
        Relaying
    };
    struct Client
    {
        Phase phase = Phase::Greeting;
        QByteArray in;
        QPointer<QTcpSocket> server;
    };

    void serve(QTcpSocket *socket)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            Client &client = m_clients[socket];
            client.in += socket->readAll();
            step(socket, client);
        });
        connect(socket, &QObject::destroyed, this, [this, socket] { m_clients.remove(socket); });
    }

    static QByteArray bytes(std::initializer_list<int> list)
    {
        QByteArray out;
        for (int b : list)
            out += char(b);
        return out;
    }

    void step(QTcpSocket *socket, Client &client)
    {
        const QByteArray &in = client.in;
        if (client.phase == Phase::Greeting) {
            if (in.size() < 2 || in.size() < 2 + quint8(in[1]))
                return;
            const QByteArray methods = in.mid(2, quint8(in[1]));
            client.in.remove(0, 2 + quint8(in[1]));
            const char wanted = user.isEmpty() ? 0x00 : 0x02;
            if (!methods.contains(wanted)) {
                socket->write(bytes({5, 0xFF}));
                socket->disconnectFromHost();
                return;
            }
            socket->write(bytes({5, wanted}));
            client.phase = user.isEmpty() ? Phase::Request : Phase::Login;
        }
        if (client.phase == Phase::Login) {
            if (in.size() < 2 || in.size() < 2 + quint8(in[1]) + 1)
                return;
            const int userLength = quint8(in[1]);
            const int passwordLength = quint8(in[2 + userLength]);
            if (in.size() < 3 + userLength + passwordLength)
                return;
            const bool ok = in.mid(2, userLength) == user.toUtf8() &&
                            in.mid(3 + userLength, passwordLength) == password.toUtf8();
            client.in.remove(0, 3 + userLength + passwordLength);
            socket->write(bytes({1, ok ? 0 : 1}));
            if (!ok) {
                socket->disconnectFromHost();
                return;
            }
            client.phase = Phase::Request;
        }
        if (client.phase == Phase::Request) {
            if (in.size() < 5)
                return;
            Request request;
            request.addressType = quint8(in[3]);
            const int addressLength = request.addressType == 1   ? 4
                                      : request.addressType == 4 ? 16
                                                                 : 1 + quint8(in[4]);
            if (in.size() < 4 + addressLength + 2)
                return;
            const QByteArray address = in.mid(4, addressLength);
            request.port =
                quint16(quint8(in[4 + addressLength]) << 8 | quint8(in[5 + addressLength]));
            client.in.remove(0, 4 + addressLength + 2);
            quint16 port = request.port;
            if (request.addressType == 1) {
                request.host =
                    QHostAddress(quint32(quint8(address[0]) << 24 | quint8(address[1]) << 16 |
                                         quint8(address[2]) << 8 | quint8(address[3])))
                        .toString();
            } else if (request.addressType == 4) {
                request.host =
                    QHostAddress(reinterpret_cast<const quint8 *>(address.constData())).toString();
            } else {
                request.host = QString::fromUtf8(address.mid(1));
                port = names.value(request.host, 0);
            }
            requests.append(request);
            if (request.addressType == 3 && port == 0) {
                socket->write(bytes({5, 4 /* host unreachable */, 0, 1, 0, 0, 0, 0, 0, 0}));
                socket->disconnectFromHost();
                return;
            }
            client.phase = Phase::Relaying;
            auto *server = new QTcpSocket(socket);
            client.server = server;
            connect(server, &QTcpSocket::connected, socket, [socket] {
                socket->write(bytes({5, 0, 0, 1, 127, 0, 0, 1, 0, 0}));
            });
            connect(server, &QTcpSocket::errorOccurred, socket,
                    [socket, server](QAbstractSocket::SocketError error) {
                        if (server->state() == QAbstractSocket::ConnectedState)
                            return;
                        const int code = error == QAbstractSocket::ConnectionRefusedError ? 5
                                         : error == QAbstractSocket::HostNotFoundError    ? 4
                                                                                          : 1;
                        socket->write(bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0}));
                        socket->disconnectFromHost();
                    });
            connect(server, &QTcpSocket::readyRead, socket,
                    [socket, server] { socket->write(server->readAll()); });
            connect(server, &QTcpSocket::disconnected, socket,
                    [socket] { socket->disconnectFromHost(); });
            server->connectToHost(
                request.addressType == 3 ? QStringLiteral("127.0.0.1") : request.host, port);
        }
        if (client.phase == Phase::Relaying && client.server && !client.in.isEmpty() &&
            client.server->state() == QAbstractSocket::ConnectedState) {
            client.server->write(client.in);
            client.in.clear();
        }
        if (client.phase == Phase::Relaying && client.server &&
            client.server->state() != QAbstractSocket::ConnectedState) {
            // Bytes sent before the server connected go once it has.
            connect(
                client.server, &QTcpSocket::connected, socket,
                [this, socket] { step(socket, m_clients[socket]); }, Qt::SingleShotConnection);
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, Client> m_clients;
};
