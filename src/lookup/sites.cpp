#include "lookup/sites.h"

namespace Sites {

QString host(Site site)
{
    switch (site) {
    case Site::Option1:
        return QStringLiteral("www.whois.com");
    case Site::Option2:
        return QStringLiteral("whois.domaintools.com");
    case Site::Option3:
        return QStringLiteral("whois.arin.net");
    }
    return {};
}

QString prefix(Site site)
{
    const char *variable = site == Site::Option1   ? "QUORVANE_SITE1_URL"
                           : site == Site::Option2 ? "QUORVANE_SITE2_URL"
                                                   : "QUORVANE_SITE3_URL";
    const QString overridden = qEnvironmentVariable(variable);
    if (!overridden.isEmpty())
        return overridden;
    switch (site) {
    case Site::Option1:
        return QStringLiteral("http://") + host(site) + QStringLiteral("/whois/");
    case Site::Option2:
        return QStringLiteral("http://") + host(site) + QStringLiteral("/");
    case Site::Option3:
        return QStringLiteral("http://") + host(site) + QStringLiteral("/ui?queryinput=");
    }
    return {};
}

QString pageAddress(Site site, const QString &address)
{
    return prefix(site) + address;
}

QString recordElementId(Site site)
{
    switch (site) {
    case Site::Option1:
        return {};
    case Site::Option2:
        return QStringLiteral("whoisRecordContainer");
    case Site::Option3:
        return QStringLiteral("maincontent");
    }
    return {};
}

} // namespace Sites
