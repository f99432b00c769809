#include "addresses/addresslist.h"

#include "platform/listviewmodel.h"

namespace AddressList {

QString savedForm(const ListViewModel &list)
{
    QString saved;
    const int n = list.itemCount();
    for (int i = 1; i <= n; ++i) {
        if (i > 1)
            saved += QLatin1Char(';');
        saved += list.itemText(i);
    }
    return saved;
}

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
