#include "net/whois43client.h"

#include "net/addressrules.h"
#include "platform/logging.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

Whois43Client::Whois43Client(const ConnectToMap &connectTo, const Whois43Limits &limits,
                             QObject *parent)
    : QObject(parent), m_connectTo(connectTo), m_limits(limits),
      m_readNotifier(new QSocketNotifier(QSocketNotifier::Read, this)),
      m_writeNotifier(new QSocketNotifier(QSocketNotifier::Write, this))
{
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &Whois43Client::onWritable);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &Whois43Client::onReadable);
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setTimerType(Qt::PreciseTimer);
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        fail(Whois43Answer::Failure::ConnectTimeout,
             QStringLiteral("no connection within %1 s").arg(m_limits.connectTimeoutMs / 1000.0));
    });
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        fail(Whois43Answer::Failure::Timeout, QStringLiteral("no complete answer within %1 s")
                                                  .arg(m_limits.answerTimeoutMs / 1000.0));
    });
}

Whois43Client::~Whois43Client()
{
    if (m_lookupId != 0)
        m_resolver->abort(m_lookupId);
    closeSocket();
}

void Whois43Client::start(const Whois43Request &request, Callback done)
{
    start(request);
    m_callback = std::move(done);
}

void Whois43Client::start(const Whois43Request &request)
{
    // A reused client starts clean: nothing of the exchange before it carries over, and what
    // that exchange left queued (a retry, a deferred outcome) sees a newer exchange and does
    // nothing.
    ++m_exchange;
    closeSocket();
    if (m_lookupId != 0) {
        m_resolver->abort(m_lookupId);
        m_lookupId = 0;
    }
    m_done = false;
    m_connected = false;
    m_waitedForDescriptor = false;
    m_via.reset();
    m_socks.reset();
    m_serverAddress = IpAddress();
    m_candidates.clear();
    m_nextCandidate = 0;
    m_toSend.clear();
    m_connectingAddress = IpAddress();
    m_connectingPort = 0;
    m_request = request;
    m_answer = {};
    m_answer.server = request.host + u':' + QString::number(request.port);
    m_target = m_connectTo.resolve(request.host, request.port);
    m_answer.userMapped = m_target.hostNamed;
    m_connectTimer.start(m_limits.connectTimeoutMs);
    m_answerTimer.start(m_limits.answerTimeoutMs);

    m_via = m_proxy.socksFor(request.host);
    if (m_via && m_via->resolvesNames()) {
        // The proxy looks the name up; an address written as the host is still checked here.
        const IpAddress literal = IpAddress::fromString(m_target.host);
        if (!literal.isNull() && m_request.refuseNonPublic && !m_target.hostNamed &&
            AddressRules::isNonPublic(literal)) {
            QMetaObject::invokeMethod(
                this,
                [this, literal, at = m_exchange] {
                    if (at == m_exchange)
                        refuse(literal);
                },
                Qt::QueuedConnection);
            return;
        }
        m_serverAddress = literal;
        lookUp(m_via->host, &Whois43Client::onProxyFound);
        return;
    }
    lookUp(m_target.host, &Whois43Client::onHostFound);
}

void Whois43Client::lookUp(const QString &host, Found found)
{
    const IpAddress literal = IpAddress::fromString(host);
    if (!literal.isNull()) {
        // Delivered from the event loop, like every other outcome.
        QMetaObject::invokeMethod(
            this,
            [this, literal, found, at = m_exchange] {
                if (at == m_exchange)
                    (this->*found)({literal}, {});
            },
            Qt::QueuedConnection);
        return;
    }
    m_lookupId = m_resolver->lookUp(
        host, this, [this, found](const QList<IpAddress> &addresses, const QString &error) {
            m_lookupId = 0;
            (this->*found)(addresses, error);
        });
}

void Whois43Client::abort()
{
    fail(Whois43Answer::Failure::Aborted, QStringLiteral("stopped"));
}

void Whois43Client::refuse(const IpAddress &address)
{
    fail(Whois43Answer::Failure::RefusedPrivateAddress,
         QStringLiteral("%1 is a %2 address; a referral may not lead there")
             .arg(address.toString(), AddressRules::nonPublicKind(address)));
}

void Whois43Client::onHostFound(const QList<IpAddress> &addresses, const QString &error)
{
    if (m_done)
        return;
    if (addresses.isEmpty()) {
        fail(Whois43Answer::Failure::HostNotFound,
             QStringLiteral("host %1 not found%2")
                 .arg(m_target.host, error.isEmpty() ? QString() : QStringLiteral(": ") + error));
        return;
    }
    // The address checked is the address connected to (or handed to the proxy): no second
    // look-up in between.
    const bool check = m_request.refuseNonPublic && !m_target.hostNamed;
    QList<IpAddress> usable;
    for (const IpAddress &address : addresses) {
        if (!check || !AddressRules::isNonPublic(address))
            usable.append(address);
    }
    if (usable.isEmpty()) {
        refuse(addresses.front());
        return;
    }
    m_serverAddress = usable.front();
    if (m_via) {
        // The proxy is handed the first; it connects on its own.
        lookUp(m_via->host, &Whois43Client::onProxyFound);
        return;
    }
    m_candidates = usable;
    m_candidatePort = m_target.port;
    connectToNext();
}

void Whois43Client::onProxyFound(const QList<IpAddress> &addresses, const QString &error)
{
    if (m_done)
        return;
    if (addresses.isEmpty()) {
        fail(Whois43Answer::Failure::HostNotFound,
             QStringLiteral("proxy %1 not found%2")
                 .arg(m_via->host, error.isEmpty() ? QString() : QStringLiteral(": ") + error));
        return;
    }
    // The proxy is the user's choice, wherever it is.
    m_socks.emplace(m_target.host, m_serverAddress, m_target.port, m_via->user, m_via->password);
    m_candidates = addresses;
    m_candidatePort = m_via->port;
    connectToNext();
}

bool Whois43Client::connectToNext()
{
    if (m_nextCandidate >= m_candidates.size())
        return false;
    const IpAddress address = m_candidates[m_nextCandidate++];
    if (!m_via)
        m_serverAddress = address;
    connectTo(address, m_candidatePort);
    return true;
}

void Whois43Client::connectFailed(int error)
{
    closeSocket();
    if (connectToNext())
        return;
    fail(error == ECONNREFUSED ? Whois43Answer::Failure::ConnectRefused
                               : Whois43Answer::Failure::NetworkError,
         QStringLiteral("cannot connect to %1: %2")
             .arg(connectionName(), QString::fromLocal8Bit(strerror(error))));
}

// Made only for a reason given: a lookup that succeeds never needs it.
QString Whois43Client::connectionName() const
{
    return QStringLiteral("%1 port %2%3")
        .arg(m_connectingAddress.toString())
        .arg(m_connectingPort)
        .arg(m_via ? QStringLiteral(" (the proxy)") : QString());
}

void Whois43Client::connectTo(const IpAddress &address, quint16 port)
{
    m_answer.peerAddress = m_serverAddress;
    m_connectingAddress = address;
    m_connectingPort = port;
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.isV4()) {
        auto *in = reinterpret_cast<sockaddr_in *>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toV4());
        length = sizeof(sockaddr_in);
    } else {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const IpAddress::V6Bytes bytes = address.toV6();
        std::memcpy(&in6->sin6_addr, bytes.data(), bytes.size());
        length = sizeof(sockaddr_in6);
    }
    m_fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0 && (errno == EMFILE || errno == ENFILE)) {
        // No descriptor free at the moment: others come free as the exchanges under way end,
        // so the lookup waits for one rather than fail. Its deadlines count from the moment it
        // connects.
        m_connectTimer.stop();
        m_answerTimer.stop();
        m_waitedForDescriptor = true;
        QTimer::singleShot(DescriptorRetryMs, this, [this, address, port, at = m_exchange] {
            if (!m_done && at == m_exchange)
                connectTo(address, port);
        });
        return;
    }
    if (std::exchange(m_waitedForDescriptor, false)) {
        m_connectTimer.start(m_limits.connectTimeoutMs);
        m_answerTimer.start(m_limits.answerTimeoutMs);
    }
    if (m_fd < 0) {
        fail(Whois43Answer::Failure::NetworkError,
             QStringLiteral("cannot open a socket: %1")
                 .arg(QString::fromLocal8Bit(strerror(errno))));
        return;
    }
    m_readNotifier->setSocket(m_fd);
    m_writeNotifier->setSocket(m_fd);
    m_writeNotifier->setEnabled(true);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&storage), length) != 0 &&
        errno != EINPROGRESS)
        connectFailed(errno);
}

void Whois43Client::send(const QByteArray &bytes)
{
    m_toSend += bytes;
    if (!m_toSend.isEmpty() && m_fd >= 0)
        m_writeNotifier->setEnabled(true);
}

void Whois43Client::onConnected()
{
    m_connected = true;
    m_readNotifier->setEnabled(true);
    if (m_socks) {
        // Connected to the proxy only: the server is reached once the proxy says so.
        m_toSend = m_socks->start();
        return;
    }
    m_connectTimer.stop();
    m_toSend = m_request.query + "\r\n";
}

void Whois43Client::onWritable()
{
    if (m_done)
        return;
    if (!m_connected) {
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) {
            connectFailed(error);
            return;
        }
        onConnected();
    }
    while (!m_toSend.isEmpty()) {
        const ssize_t sent =
            ::send(m_fd, m_toSend.constData(), size_t(m_toSend.size()), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return; // the notifier calls again when there is room
            if (errno == EINTR)
                continue;
            const int error = errno;
            fail(error == ECONNRESET || error == EPIPE ? Whois43Answer::Failure::Reset
                                                       : Whois43Answer::Failure::NetworkError,
                 (m_socks && m_socks->state() != Socks5Handshake::State::Done
                      ? QStringLiteral("cannot talk to the proxy: %1")
                      : QStringLiteral("cannot send the query: %1"))
                     .arg(QString::fromLocal8Bit(strerror(error))));
            return;
        }
        m_toSend.remove(0, sent);
    }
    m_writeNotifier->setEnabled(false);
}

void Whois43Client::onReadable()
{
    if (m_done)
        return;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            if (m_socks && m_socks->state() != Socks5Handshake::State::Done) {
                onProxyBytes(QByteArrayView(buffer, got));
                if (m_done)
                    return;
                continue;
            }
            if (!take(QByteArrayView(buffer, got)))
                return;
            continue;
        }
        if (got == 0) {
            if (m_socks && m_socks->state() != Socks5Handshake::State::Done) {
                fail(Whois43Answer::Failure::NetworkError,
                     QStringLiteral("the proxy closed the connection"));
                return;
            }
            complete(); // the server closed: the answer is whole
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        const int error = errno;
        fail(error == ECONNRESET ? Whois43Answer::Failure::Reset
                                 : Whois43Answer::Failure::NetworkError,
             QStringLiteral("answer cut short after %1 bytes: %2")
                 .arg(m_answer.received)
                 .arg(QString::fromLocal8Bit(strerror(error))));
        return;
    }
}

bool Whois43Client::take(QByteArrayView bytes)
{
    m_answer.received += bytes.size();
    if (m_answer.bytes.size() + bytes.size() > m_limits.maxAnswerBytes) {
        fail(Whois43Answer::Failure::TooLarge,
             QStringLiteral("answer larger than %1 bytes").arg(m_limits.maxAnswerBytes));
        return false;
    }
    m_answer.bytes.append(bytes);
    return true;
}

void Whois43Client::onProxyBytes(QByteArrayView bytes)
{
    const QByteArray reply = m_socks->feed(bytes);
    switch (m_socks->state()) {
    case Socks5Handshake::State::Failed: {
        using Refusal = Socks5Handshake::Refusal;
        const Refusal refusal = m_socks->refusal();
        fail(refusal == Refusal::Refused       ? Whois43Answer::Failure::ConnectRefused
             : refusal == Refusal::HostUnknown ? Whois43Answer::Failure::HostNotFound
                                               : Whois43Answer::Failure::NetworkError,
             QStringLiteral("through the proxy %1: %2").arg(connectionName(), m_socks->failure()));
        return;
    }
    case Socks5Handshake::State::Done: {
        // The tunnel is open: from here on it is the server we talk to.
        m_connectTimer.stop();
        const QByteArray early = m_socks->leftover();
        if (!early.isEmpty() && !take(early))
            return;
        send(reply + m_request.query + "\r\n");
        return;
    }
    default:
        send(reply);
        return;
    }
}

void Whois43Client::closeSocket()
{
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void Whois43Client::fail(Whois43Answer::Failure failure, const QString &reason)
{
    if (m_done)
        return;
    m_answer.ok = false;
    m_answer.failure = failure;
    m_answer.reason = reason;
    // No part of a broken answer is offered as a record; how much came stays in `received`.
    m_answer.bytes.clear();
    m_done = true;
    m_connectTimer.stop();
    m_answerTimer.stop();
    if (m_lookupId != 0) {
        m_resolver->abort(m_lookupId);
        m_lookupId = 0;
    }
    closeSocket();
    qCInfo(lcNet).noquote() << m_answer.server << "failed:" << reason;
    QMetaObject::invokeMethod(
        this,
        [this, at = m_exchange] {
            if (at == m_exchange)
                deliver();
        },
        Qt::QueuedConnection);
}

void Whois43Client::complete()
{
    if (m_done)
        return;
    m_done = true;
    m_connectTimer.stop();
    m_answerTimer.stop();
    closeSocket();
    m_answer.ok = true;
    qCInfo(lcNet).noquote() << m_answer.server << "answered" << m_answer.bytes.size()
                            << "bytes from" << m_answer.peerAddress.toString();
    deliver();
}

void Whois43Client::deliver()
{
    // The callback may start this client again at once (a source hands it to its next
    // request), so the answer and the callback are taken out of it first and nothing of the
    // object is used after.
    const Whois43Answer answer = std::exchange(m_answer, {});
    Callback done = std::exchange(m_callback, {});
    emit finished(answer);
    if (done)
        done(answer);
}
