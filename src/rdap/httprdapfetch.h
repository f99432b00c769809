#pragma once

#include "net/connectto.h"
#include "rdap/rdapfetch.h"

#include <QObject>

class HttpClient;

// RdapFetch over the project's HTTP client: GET with `Accept: application/rdap+json`, a deadline
// (30 s unless set) and an 8 MiB cap. Only https URLs are fetched, plain http only to a loopback
// address. With `followRedirects` off, a 3xx answer comes back with its Location, so the
// caller can take each hop as a query of its own.
class HttpRdapFetch : public QObject, public RdapFetch
{
    Q_OBJECT

public:
    static constexpr int TimeoutMs = 30000;
    static constexpr qint64 SizeCap = qint64(8) << 20;

    // `connectTo`: hosts the user mapped count as the user's own choice, wherever they lead.
    HttpRdapFetch(HttpClient *http, bool followRedirects, ConnectToMap connectTo = {},
                  QObject *parent = nullptr);

    void fetch(const QUrl &url, Done done, bool fromAnswer = false) override;
    void abortAll();
    // The deadline of each answer (TimeoutMs unless set).
    void setTimeoutMs(int ms) { m_timeoutMs = qMax(1, ms); }

private:
    HttpClient *m_http;
    int m_timeoutMs = TimeoutMs;
    bool m_followRedirects;
    ConnectToMap m_connectTo;
};
