#pragma once

#include "net/addressrules.h"
#include "net/connectto.h"
#include "net/hostresolver.h"
#include "net/ipaddress.h"
#include "net/proxysettings.h"
#include "net/socks5handshake.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class QSocketNotifier;

// Bounds on one port-43 exchange.
struct Whois43Limits
{
    int connectTimeoutMs = 10000; // name look-up and TCP connect (through a proxy: until the
                                  // proxy has connected to the server)
    int answerTimeoutMs = 30000;  // the whole exchange, from the start
    qint64 maxAnswerBytes = qint64(1) << 20;
};

struct Whois43Request
{
    QString host;
    quint16 port = 43;
    // The query line without its CR LF.
    QByteArray query;
    // Refuse to connect when the host resolves to a non-public address (a referral read from
    // an untrusted answer). A host the connect-to map names is never refused. Through a
    // socks5h:// proxy, which looks names up itself, only an address written as the host is
    // checked.
    bool refuseNonPublic = false;
};

struct Whois43Answer
{
    enum class Failure
    {
        None,
        HostNotFound,
        RefusedPrivateAddress,
        ConnectRefused,
        ConnectTimeout,
        Timeout,
        TooLarge,
        Reset,
        NetworkError,
        Aborted
    };

    bool ok = false;
    Failure failure = Failure::None;
    QString reason;
    // The whole answer; empty when the exchange failed.
    QByteArray bytes;
    // How many bytes came before the exchange ended, whether or not it failed: a reset after
    // part of an answer is a broken exchange, not a server that closed without answering.
    qint64 received = 0;
    // The server as asked: "host:port".
    QString server;
    // The server's address (null when no connection was made, or a proxy looked the name up).
    IpAddress peerAddress;
    // The connect-to map names the host: where it went was the user's choice.
    bool userMapped = false;
    // The bytes as text when whoever read the answer first has decoded them already (a reader
    // further on uses it rather than decode them again); null otherwise. Never set here.
    QString text;

    // The server was on a non-public address the user did not choose.
    bool reachedNonPublic() const
    {
        return !userMapped && !peerAddress.isNull() && AddressRules::isNonPublic(peerAddress);
    }
};

// One question to one port-43 server on the event loop: look up the host, connect, send the
// query and CR LF, read until the server closes. The socket is a non-blocking one watched by
// socket notifiers rather than a QTcpSocket, because QTcpSocket reports a connection reset as
// the same "remote host closed" as a normal end, and a reset answer must not pass for a whole
// one. The answer is whole only when the server
// closes normally within the bounds; a reset, a timeout or an oversized answer is a failure
// and no part of it is offered as a record. `finished` is emitted exactly once per request,
// always later than `start` returns; once it has been, the object may be started again (a
// source keeps a few and reuses them rather than build one, two timers and two socket
// notifiers per request). With a SOCKS5 proxy set, the connection
// goes to the proxy, which connects to the server (after the connect-to map has had its say).
class Whois43Client : public QObject
{
    Q_OBJECT

public:
    // With every file descriptor of the process in use, a new connection is tried again this
    // often until one is free (instead of failing the lookup).
    static constexpr int DescriptorRetryMs = 20;

    explicit Whois43Client(const ConnectToMap &connectTo = {}, const Whois43Limits &limits = {},
                           QObject *parent = nullptr);
    ~Whois43Client() override;

    // Before start: the proxies to use (only a SOCKS5 one carries port 43).
    void setProxy(const ProxySettings &proxy) { m_proxy = proxy; }
    // Before start: where host names are looked up (the system's resolver unless set).
    void setResolver(HostResolver *resolver) { m_resolver = resolver; }

    using Callback = std::function<void(const Whois43Answer &answer)>;

    void start(const Whois43Request &request);
    // The same; `done` is called once with the answer, right after `finished`.
    void start(const Whois43Request &request, Callback done);
    // Ends the exchange at once; `finished` follows with Failure::Aborted.
    void abort();

signals:
    void finished(const Whois43Answer &answer);

private:
    using Found = void (Whois43Client::*)(const QList<IpAddress> &, const QString &);
    void lookUp(const QString &host, Found found);
    void refuse(const IpAddress &address);
    QString connectionName() const;
    // Connects to the next of m_candidates; false when none is left.
    bool connectToNext();
    void connectTo(const IpAddress &address, quint16 port);
    // A connection that could not be made: the next address, if any, else the failure.
    void connectFailed(int error);
    void onHostFound(const QList<IpAddress> &addresses, const QString &error);
    void onProxyFound(const QList<IpAddress> &addresses, const QString &error);
    void onConnected();
    void send(const QByteArray &bytes);
    void onWritable();
    void onReadable();
    // Adds bytes of the answer; false when that failed the exchange.
    bool take(QByteArrayView bytes);
    void onProxyBytes(QByteArrayView bytes);
    void closeSocket();
    void fail(Whois43Answer::Failure failure, const QString &reason);
    void complete();
    void deliver();

    ConnectToMap m_connectTo;
    Whois43Limits m_limits;
    ProxySettings m_proxy;
    Whois43Request m_request;
    ConnectToMap::Target m_target;
    std::optional<ProxySettings::Proxy> m_via;
    // The server's address when the program looked it up (or it was written as one).
    IpAddress m_serverAddress;
    // The addresses a name gave that may be connected to (the server's, or the proxy's), in
    // the order given: each is tried when the one before could not be connected to.
    QList<IpAddress> m_candidates;
    qsizetype m_nextCandidate = 0;
    quint16 m_candidatePort = 0;
    HostResolver *m_resolver = &HostResolver::system();
    std::optional<Socks5Handshake> m_socks;
    Whois43Answer m_answer;
    int m_fd = -1;
    // Made with the object; each exchange gives them its socket.
    QSocketNotifier *m_readNotifier;
    QSocketNotifier *m_writeNotifier;
    Callback m_callback;
    // Counts the exchanges, so that what an earlier one left queued does nothing.
    quint64 m_exchange = 0;
    QByteArray m_toSend;
    // The address and port last connected to, named in the reasons (connectionName()).
    IpAddress m_connectingAddress;
    quint16 m_connectingPort = 0;
    QTimer m_connectTimer;
    QTimer m_answerTimer;
    quint64 m_lookupId = 0; // a name look-up under way
    bool m_waitedForDescriptor = false;
    bool m_connected = false;
    bool m_done = false;
};
