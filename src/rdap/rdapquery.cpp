#include "rdap/rdapquery.h"

namespace {

QUrl onBase(const QString &baseUrl, const QString &path)
{
    QString base = baseUrl;
    if (!base.endsWith(u'/'))
        base += u'/';
    const QUrl url(base + path, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"https" && scheme != u"http"))
        return {};
    return url;
}

bool isAsciiName(QStringView name)
{
    if (name.isEmpty() || name.size() > 253)
        return false;
    for (const QStringView label : name.split(u'.')) {
        if (label.isEmpty() || label.size() > 63)
            return false;
        for (const QChar c : label) {
            const char16_t u = c.unicode();
            const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                            (u >= u'0' && u <= u'9') || u == u'-' || u == u'_';
            if (!ok)
                return false;
        }
    }
    return true;
}

} // namespace

QUrl RdapDomainUrl(const QString &baseUrl, const QString &asciiName)
{
    QStringView name(asciiName);
    if (name.endsWith(u'.'))
        name.chop(1);
    if (!isAsciiName(name))
        return {};
    return onBase(baseUrl, QStringLiteral("domain/") + name.toString().toLower());
}

QUrl RdapAddressUrl(const QString &baseUrl, const IpAddress &address, int prefixLength)
{
    if (address.isNull())
        return {};
    if (prefixLength < 0)
        return onBase(baseUrl, QStringLiteral("ip/") + address.toString());
    const IpAddress network = address.network(prefixLength);
    if (network.isNull())
        return {};
    return onBase(baseUrl, QStringLiteral("ip/") + network.toString() + u'/' +
                               QString::number(prefixLength));
}

QUrl RdapAutnumUrl(const QString &baseUrl, quint32 asNumber)
{
    return onBase(baseUrl, QStringLiteral("autnum/") + QString::number(asNumber));
}

QList<std::pair<QByteArray, QByteArray>> RdapRequestHeaders()
{
    return {{QByteArrayLiteral("Accept"), QByteArray(RdapMediaType)}};
}
