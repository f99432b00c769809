#pragma once

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
// The fixed start of the page address; QUORVANE_SITE<n>_URL replaces it when set.
QString prefix(Site site);
// The page address of one address: the prefix followed by the address exactly as listed.
QString pageAddress(Site site, const QString &address);
// The id of the element that holds the record, or empty for the first `pre` element.
QString recordElementId(Site site);

} // namespace Sites
