#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

// What a fetch brought back: the body of a successful (2xx) answer, or why there is none.
// An answer of another status still carries its status, body, Retry-After and Location.
struct RdapFetchResult
{
    bool ok = false;
    QByteArray body;
    QString failure;
    int status = 0;           // 0: no HTTP answer came
    bool unreachable = false; // no connection could be made, or the deadline passed
    // The address rule refused the connection: no server was asked.
    bool refusedNonPublic = false;
    QByteArray contentType;
    QByteArray retryAfter;
    QUrl location; // a redirect's target
};

// Loads one document over HTTP(S) for the RDAP source. The project's HTTP client implements it
// (with its deadline and size cap); tests use a double. `done` is called exactly once, later,
// on the event loop, never from inside fetch().
class RdapFetch
{
public:
    using Done = std::function<void(const RdapFetchResult &result)>;
    virtual ~RdapFetch() = default;
    // `fromAnswer`: the URL was taken from a server's answer (a redirect, a related link), so
    // it must not lead to a non-public address unless the user mapped its host.
    virtual void fetch(const QUrl &url, Done done, bool fromAnswer = false) = 0;
};
