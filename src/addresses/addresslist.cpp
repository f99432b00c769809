#include "addresses/addresslist.h"

#include "addresses/listviewmodel.h"
#include "text/utf8text.h"

namespace AddressList {

QString savedForm(const ListViewModel &list)
{
    // Joined as UTF-8 and converted once: a million entries are not a million conversions.
    return textFromUtf8(list.itemTexts().joined(';'));
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
