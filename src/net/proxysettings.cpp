#include "net/proxysettings.h"

#include "net/ipaddress.h"

#include <QUrl>

namespace {

// The first of the variables that is set and not empty.
QString environment(std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const QString value = qEnvironmentVariable(name).trimmed();
        if (!value.isEmpty())
            return value;
    }
    return {};
}

// A variable that does not read as a proxy still goes to libcurl as it is, which then fails
// the transfer: a proxy the user meant is never quietly skipped.
std::optional<ProxySettings::Proxy> environmentProxy(std::initializer_list<const char *> names)
{
    const QString value = environment(names);
    if (value.isEmpty())
        return std::nullopt;
    if (auto proxy = ProxySettings::parseProxy(value))
        return proxy;
    ProxySettings::Proxy unreadable;
    unreadable.url = value.toUtf8();
    return unreadable;
}

QStringList noProxyEntries(const QString &text)
{
    // Entries are separated by commas, white space or both.
    QStringList entries;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u',' && !text[i].isSpace())
            continue;
        if (i > start)
            entries << text.sliced(start, i - start).toLower();
        start = i + 1;
    }
    return entries;
}

} // namespace

QByteArray ProxySettings::Proxy::urlResolvingNames() const
{
    const auto swapScheme = [this](QByteArrayView from, QByteArrayView to) {
        QByteArray out = url;
        if (out.size() >= from.size() &&
            QByteArrayView(out).first(from.size()).compare(from, Qt::CaseInsensitive) == 0)
            out.replace(0, from.size(), to.toByteArray());
        return out;
    };
    if (kind == Kind::Socks5)
        return swapScheme("socks5://", "socks5h://");
    if (kind == Kind::Socks4)
        return swapScheme("socks4://", "socks4a://");
    return url;
}

std::optional<ProxySettings::Proxy> ProxySettings::parseProxy(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed.contains(QStringLiteral("://")) ? trimmed
                                                           : QStringLiteral("http://") + trimmed,
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    Proxy proxy;
    if (scheme == u"http")
        proxy.kind = Kind::Http;
    else if (scheme == u"https")
        proxy.kind = Kind::Https;
    else if (scheme == u"socks4")
        proxy.kind = Kind::Socks4;
    else if (scheme == u"socks4a")
        proxy.kind = Kind::Socks4a;
    else if (scheme == u"socks5")
        proxy.kind = Kind::Socks5;
    else if (scheme == u"socks5h")
        proxy.kind = Kind::Socks5h;
    else
        return std::nullopt;
    proxy.host = url.host();
    // libcurl's defaults: 443 for an https proxy, 1080 for every other kind.
    proxy.port = quint16(url.port(proxy.kind == Kind::Https ? 443 : 1080));
    proxy.user = url.userName();
    proxy.password = url.password();
    proxy.url = trimmed.toUtf8();
    return proxy;
}

ProxySettings ProxySettings::fromEnvironment()
{
    ProxySettings settings;
    settings.m_http = environmentProxy({"http_proxy"});
    settings.m_https = environmentProxy({"https_proxy", "HTTPS_PROXY"});
    settings.m_all = environmentProxy({"all_proxy", "ALL_PROXY"});
    settings.m_noProxy = noProxyEntries(noProxyFromEnvironment());
    return settings;
}

QString ProxySettings::noProxyFromEnvironment()
{
    return environment({"no_proxy", "NO_PROXY"});
}

std::optional<ProxySettings> ProxySettings::forEverything(const QString &url,
                                                          const QString &noProxy, QString *error)
{
    const std::optional<Proxy> proxy = parseProxy(url);
    if (!proxy) {
        if (error)
            *error = QStringLiteral("\"%1\" is not a proxy address (http://, https://, "
                                    "socks4://, socks4a://, socks5:// or socks5h://HOST[:PORT])")
                         .arg(url);
        return std::nullopt;
    }
    ProxySettings settings;
    settings.m_all = proxy;
    settings.m_noProxy = noProxyEntries(noProxy);
    return settings;
}

bool ProxySettings::bypasses(const QStringList &noProxy, const QString &host)
{
    QString name = host.toLower();
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2);
    while (name.endsWith(u'.'))
        name.chop(1);
    const IpAddress address = IpAddress::fromString(name);
    for (QString entry : noProxy) {
        if (entry == u"*")
            return true;
        if (!address.isNull()) {
            if (entry.contains(u'/')) {
                const auto [network, length] = IpAddress::parseSubnet(entry);
                if (!network.isNull() && address.isInSubnet(network, length))
                    return true;
                continue;
            }
            if (entry.startsWith(u'[') && entry.endsWith(u']'))
                entry = entry.mid(1, entry.size() - 2);
            if (IpAddress::fromString(entry) == address)
                return true;
            continue;
        }
        while (entry.startsWith(u'.'))
            entry.remove(0, 1);
        while (entry.endsWith(u'.'))
            entry.chop(1);
        if (entry.isEmpty())
            continue;
        if (name == entry || (name.size() > entry.size() && name.endsWith(entry) &&
                              name.at(name.size() - entry.size() - 1) == u'.'))
            return true;
    }
    return false;
}

std::optional<ProxySettings::Proxy> ProxySettings::proxyFor(QStringView scheme,
                                                            const QString &host) const
{
    std::optional<Proxy> proxy = m_all;
    if (scheme == u"https" && m_https)
        proxy = m_https;
    else if (scheme == u"http" && m_http)
        proxy = m_http;
    if (!proxy || bypasses(m_noProxy, host))
        return std::nullopt;
    return proxy;
}

std::optional<ProxySettings::Proxy> ProxySettings::socksFor(const QString &host) const
{
    std::optional<Proxy> proxy = proxyFor(u"whois", host);
    if (proxy && proxy->kind != Kind::Socks5 && proxy->kind != Kind::Socks5h)
        return std::nullopt;
    return proxy;
}
