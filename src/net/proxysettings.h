#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Which proxy a connection goes through. Either one proxy for everything (quorvane-cli's
// --proxy), or the environment as libcurl reads it: `https_proxy`/`HTTPS_PROXY` for https,
// `http_proxy` for http (lower case only: a CGI program's HTTP_PROXY is a request header), and
// `all_proxy`/`ALL_PROXY` for any scheme, port 43 included. `no_proxy`/`NO_PROXY` names the
// hosts asked directly in both cases: `*` for every host, a name for itself and the names under
// it (a leading dot changes nothing), an IP address or a block in CIDR form.
//
// HTTP(S) transfers hand the proxy to libcurl. Port 43 goes through a SOCKS5 proxy only (a
// `socks5h://` proxy looks the server's name up itself, a `socks5://` one is given the address
// the program looked up); with any other kind of proxy port 43 is asked directly.
class ProxySettings
{
public:
    enum class Kind
    {
        Http,
        Https,
        Socks4,
        Socks4a,
        Socks5,
        Socks5h,
    };
    struct Proxy
    {
        Kind kind = Kind::Http;
        QString host;
        quint16 port = 0;
        QString user;
        QString password;
        // As given, for libcurl.
        QByteArray url;

        // The proxy looks up the names it is given; the program looks up only the proxy's.
        bool resolvesNames() const { return kind != Kind::Socks4 && kind != Kind::Socks5; }
        // The same proxy, made to look names up itself (socks5:// as socks5h://).
        QByteArray urlResolvingNames() const;
    };

    // No proxy for anything.
    ProxySettings() = default;
    // From the environment variables above.
    static ProxySettings fromEnvironment();
    // One proxy for every scheme and port 43, with `noProxy` (NO_PROXY's form) asked directly.
    // nullopt with *error when the address does not read as a proxy.
    static std::optional<ProxySettings> forEverything(const QString &url, const QString &noProxy,
                                                      QString *error = nullptr);
    // The environment's NO_PROXY (or no_proxy).
    static QString noProxyFromEnvironment();
    // Reads "scheme://[user[:password]@]host[:port]" (no scheme: http). nullopt when the
    // scheme is none of http, https, socks4, socks4a, socks5, socks5h or there is no host.
    static std::optional<Proxy> parseProxy(const QString &url);

    // The proxy for a request by `scheme` ("http", "https", or "whois" for port 43) to `host`;
    // nullopt when it goes directly.
    std::optional<Proxy> proxyFor(QStringView scheme, const QString &host) const;
    // Port 43: the SOCKS5 proxy for `host`, or nullopt.
    std::optional<Proxy> socksFor(const QString &host) const;
    bool isEmpty() const { return !m_http && !m_https && !m_all; }

    // Whether NO_PROXY's entries send `host` directly.
    static bool bypasses(const QStringList &noProxy, const QString &host);

private:
    std::optional<Proxy> m_http;
    std::optional<Proxy> m_https;
    std::optional<Proxy> m_all;
    QStringList m_noProxy;
};
