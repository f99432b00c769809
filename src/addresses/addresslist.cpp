#include "addresses/addresslist.h"

namespace AddressList {

QStringList restoredEntries(const QString &saved)
{
    return saved.split(QLatin1Char(';'), Qt::SkipEmptyParts, Qt::CaseSensitive);
}

QStringList sampleEntries()
{
    return {QStringLiteral("www.debian.org"), QStringLiteral("wikipedia.org"),
            QStringLiteral("8.8.8.8")};
}

} // namespace AddressList
