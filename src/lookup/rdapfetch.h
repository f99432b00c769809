#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

// What a fetch brought back: the body of a successful (2xx) answer, or why there is none.
struct RdapFetchResult
{
    bool ok = false;
    QByteArray body;
    QString failure;
};

// Loads one document over HTTP(S) for the RDAP source. The project's HTTP client implements it
// (with its deadline and size cap); tests use a double. `done` is called exactly once, later,
// on the event loop, never from inside fetch().
class RdapFetch
{
public:
    using Done = std::function<void(const RdapFetchResult &result)>;
    virtual ~RdapFetch() = default;
    virtual void fetch(const QUrl &url, Done done) = 0;
};
