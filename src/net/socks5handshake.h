#pragma once

#include "net/ipaddress.h"

#include <QByteArray>
#include <QString>

// The client's side of a SOCKS5 CONNECT (RFC 1928), with user name and password when the proxy
// asks for them (RFC 1929). It only turns bytes into bytes: the caller owns the socket, sends
// what start() and feed() return and feeds what the proxy sends, until the state is Done (the
// tunnel to the server is open; bytes the proxy sent past its reply are in leftover()) or
// Failed (failure() says why).
class Socks5Handshake
{
public:
    enum class State
    {
        Greeting,
        Authenticating,
        Connecting,
        Done,
        Failed,
    };
    enum class Refusal
    {
        None,
        Proxy,       // the proxy would not talk to us, or spoke something else
        Refused,     // the server refused the connection
        HostUnknown, // the proxy could not find or reach the host
        Other,
    };

    // The server is named by `host` (a name the proxy looks up) or, when `address` is not null,
    // by that address.
    Socks5Handshake(const QString &host, const IpAddress &address, quint16 port,
                    const QString &user = {}, const QString &password = {});

    QByteArray start();
    // Takes bytes from the proxy; returns the bytes to send next (often none).
    QByteArray feed(QByteArrayView bytes);

    State state() const { return m_state; }
    Refusal refusal() const { return m_refusal; }
    QString failure() const { return m_failure; }
    QByteArray leftover() const { return m_in; }

private:
    QByteArray connectRequest();
    void fail(Refusal refusal, const QString &why);

    QString m_host;
    IpAddress m_address;
    quint16 m_port;
    QString m_user;
    QString m_password;
    State m_state = State::Greeting;
    Refusal m_refusal = Refusal::None;
    QString m_failure;
    QByteArray m_in;
};
