#include "web/sites.h"

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

QString builtInPrefix(Site site)
{
    switch (site) {
    case Site::Option1:
        return QStringLiteral("https://") + host(site) + QStringLiteral("/whois/");
    case Site::Option2:
        return QStringLiteral("https://") + host(site) + QStringLiteral("/");
    case Site::Option3:
        return QStringLiteral("https://") + host(site) + QStringLiteral("/ui?queryinput=");
    }
    return {};
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

SourceKind sourceKind(Site site)
{
    switch (site) {
    case Site::Option1:
        return SourceKind::Site1;
    case Site::Option2:
        return SourceKind::Site2;
    case Site::Option3:
        break;
    }
    return SourceKind::Site3;
}

} // namespace Sites

SiteTable SiteTable::builtIn()
{
    SiteTable table;
    for (const Site site : {Site::Option1, Site::Option2, Site::Option3})
        table.setPrefix(site, Sites::builtInPrefix(site));
    return table;
}

SiteTable SiteTable::fromEnvironment()
{
    SiteTable table = builtIn();
    const char *variables[] = {"QUORVANE_SITE1_URL", "QUORVANE_SITE2_URL", "QUORVANE_SITE3_URL"};
    for (int i = 0; i < 3; ++i) {
        const QString overridden = qEnvironmentVariable(variables[i]);
        if (!overridden.isEmpty())
            table.m_prefixes[i] = overridden;
    }
    return table;
}

QString SiteTable::pageAddress(Site site, const QString &address) const
{
    return prefix(site) + address;
}
