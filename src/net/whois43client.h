#pragma once

#include "net/connectto.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// Bounds on one port-43 exchange.
struct Whois43Limits
{
    int connectTimeoutMs = 10000; // name look-up and TCP connect
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
    // an untrusted answer). A host mapped by the connect-to map is never refused.
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
    QByteArray bytes;
    // The server as asked: "host:port".
    QString server;
    // The address actually connected to (null when no connection was made).
    QHostAddress peerAddress;
    // The host was sent elsewhere by the connect-to map.
    bool mapped = false;
};

// One question to one port-43 server on the event loop: look up the host, connect, send the
// query and CR LF, read until the server closes. The socket is a non-blocking one watched by
// socket notifiers rather than a QTcpSocket, because QTcpSocket reports a connection reset as
// the same "remote host closed" as a normal end, and a reset answer must not pass for a whole
// one. The answer is whole only when the server
// closes normally within the bounds; a reset, a timeout or an oversized answer is a failure
// and no part of it is offered as a record. One request per object; `finished` is emitted
// exactly once, always later than `start` returns.
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

    void start(const Whois43Request &request);
    // Ends the exchange at once; `finished` follows with Failure::Aborted.
    void abort();

signals:
    void finished(const Whois43Answer &answer);

private:
    void connectTo(const QHostAddress &address, quint16 port);
    void onHostFound(const QList<QHostAddress> &addresses, const QString &error);
    void onWritable();
    void onReadable();
    void closeSocket();
    void fail(Whois43Answer::Failure failure, const QString &reason);
    void complete();

    ConnectToMap m_connectTo;
    Whois43Limits m_limits;
    Whois43Request m_request;
    ConnectToMap::Target m_target;
    Whois43Answer m_answer;
    int m_fd = -1;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_toSend;
    QTimer m_connectTimer;
    QTimer m_answerTimer;
    int m_lookupId = -1;
    bool m_waitedForDescriptor = false;
    bool m_connected = false;
    bool m_done = false;
};
