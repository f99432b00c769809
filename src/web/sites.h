#pragma once

#include "lookup/sourcekind.h"

#include <QString>

// The three whois web sites, one per option button.
enum class Site
{
    Option1 = 1,
    Option2 = 2,
    Option3 = 3
};

namespace Sites {

// The host name shown as the option button's caption.
QString host(Site site);
// The built-in start of the site's page address.
QString builtInPrefix(Site site);
// The id of the element that holds the record, or empty for the first `pre` element.
QString recordElementId(Site site);
// The source that asks the site.
SourceKind sourceKind(Site site);

} // namespace Sites

// Where the three sites' pages are: the start of each page address. Read once from the
// environment (QUORVANE_SITE<n>_URL replaces a built-in start) and handed to whoever fetches.
class SiteTable
{
public:
    static SiteTable builtIn();
    static SiteTable fromEnvironment();

    QString prefix(Site site) const { return m_prefixes[int(site) - 1]; }
    void setPrefix(Site site, const QString &prefix) { m_prefixes[int(site) - 1] = prefix; }
    // The page address of one address: the prefix followed by the address exactly as listed.
    QString pageAddress(Site site, const QString &address) const;

private:
    QString m_prefixes[3];
};
