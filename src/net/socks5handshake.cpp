#include "net/socks5handshake.h"

namespace {

constexpr char Version = 5;
constexpr char NoAuthentication = 0x00;
constexpr char UserPassword = 0x02;
constexpr quint8 NoAcceptableMethod = 0xFF;

QByteArray byteString(std::initializer_list<char> list)
{
    return QByteArray(list.begin(), qsizetype(list.size()));
}

// The reply codes of RFC 1928, section 6.
QString replyText(quint8 code)
{
    switch (code) {
    case 1:
        return QStringLiteral("general failure");
    case 2:
        return QStringLiteral("connection not allowed by its rules");
    case 3:
        return QStringLiteral("network unreachable");
    case 4:
        return QStringLiteral("host unreachable");
    case 5:
        return QStringLiteral("connection refused");
    case 6:
        return QStringLiteral("time to live expired");
    case 7:
        return QStringLiteral("command not supported");
    case 8:
        return QStringLiteral("address type not supported");
    }
    return QStringLiteral("reply %1").arg(code);
}

} // namespace

Socks5Handshake::Socks5Handshake(const QString &host, const IpAddress &address, quint16 port,
                                 const QString &user, const QString &password)
    : m_host(host), m_address(address), m_port(port), m_user(user), m_password(password)
{
}

QByteArray Socks5Handshake::start()
{
    m_state = State::Greeting;
    QByteArray greeting = byteString({Version});
    if (m_user.isEmpty()) {
        greeting += char(1);
        greeting += NoAuthentication;
    } else {
        greeting += char(2);
        greeting += NoAuthentication;
        greeting += UserPassword;
    }
    return greeting;
}

void Socks5Handshake::fail(Refusal refusal, const QString &why)
{
    m_state = State::Failed;
    m_refusal = refusal;
    m_failure = why;
}

QByteArray Socks5Handshake::connectRequest()
{
    QByteArray request = byteString({Version, 0x01 /* CONNECT */, 0x00});
    if (const std::optional<quint32> v4 = m_address.mappedV4()) {
        request += char(0x01);
        for (int shift = 24; shift >= 0; shift -= 8)
            request += char(*v4 >> shift);
    } else if (!m_address.isNull()) {
        request += char(0x04);
        const IpAddress::V6Bytes v6 = m_address.toV6();
        request.append(reinterpret_cast<const char *>(v6.data()), qsizetype(v6.size()));
    } else {
        const QByteArray name = m_host.toUtf8();
        if (name.isEmpty() || name.size() > 255) {
            fail(Refusal::Other, QStringLiteral("the host name is too long for SOCKS5"));
            return {};
        }
        request += char(0x03);
        request += char(name.size());
        request += name;
    }
    request += char(m_port >> 8);
    request += char(m_port & 0xFF);
    m_state = State::Connecting;
    return request;
}

QByteArray Socks5Handshake::feed(QByteArrayView bytes)
{
    if (m_state == State::Done || m_state == State::Failed) {
        m_in += bytes;
        return {};
    }
    m_in += bytes;
    for (;;) {
        switch (m_state) {
        case State::Greeting: {
            if (m_in.size() < 2)
                return {};
            const auto method = quint8(m_in[1]);
            const bool version = m_in[0] == Version;
            m_in.remove(0, 2);
            if (!version) {
                fail(Refusal::Proxy, QStringLiteral("the proxy does not speak SOCKS5"));
                return {};
            }
            if (method == quint8(NoAuthentication))
                return connectRequest();
            if (method == quint8(UserPassword) && !m_user.isEmpty()) {
                const QByteArray user = m_user.toUtf8().left(255);
                const QByteArray password = m_password.toUtf8().left(255);
                m_state = State::Authenticating;
                return byteString({0x01 /* version of the exchange */}) + char(user.size()) + user +
                       char(password.size()) + password;
            }
            fail(Refusal::Proxy,
                 method == NoAcceptableMethod
                     ? QStringLiteral("the proxy accepts none of our ways to log in")
                     : QStringLiteral("the proxy asks for a way to log in we do "
                                      "not offer"));
            return {};
        }
        case State::Authenticating: {
            if (m_in.size() < 2)
                return {};
            const bool accepted = m_in[1] == 0;
            m_in.remove(0, 2);
            if (!accepted) {
                fail(Refusal::Proxy, QStringLiteral("the proxy refused the user name or password"));
                return {};
            }
            return connectRequest();
        }
        case State::Connecting: {
            if (m_in.size() < 5)
                return {};
            if (m_in[0] != Version) {
                fail(Refusal::Proxy, QStringLiteral("the proxy does not speak SOCKS5"));
                return {};
            }
            const auto code = quint8(m_in[1]);
            if (code != 0) {
                fail(code == 5                ? Refusal::Refused
                     : code == 3 || code == 4 ? Refusal::HostUnknown
                                              : Refusal::Other,
                     QStringLiteral("the proxy says: ") + replyText(code));
                return {};
            }
            // The reply names the proxy's own end: its length depends on the address type.
            const auto type = quint8(m_in[3]);
            const qsizetype length = type == 0x01   ? 4 + 4 + 2
                                     : type == 0x04 ? 4 + 16 + 2
                                     : type == 0x03 ? 4 + 1 + quint8(m_in[4]) + 2
                                                    : -1;
            if (length < 0) {
                fail(Refusal::Proxy, QStringLiteral("the proxy's reply does not read"));
                return {};
            }
            if (m_in.size() < length)
                return {};
            m_in.remove(0, length);
            m_state = State::Done;
            return {};
        }
        case State::Done:
        case State::Failed:
            return {};
        }
    }
}
