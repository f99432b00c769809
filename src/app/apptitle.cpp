#include "app/apptitle.h"

QString ApplicationTitle(const QString &productName)
{
    constexpr int MaxLength = 40;
    QString title = productName;
    while (title.size() > MaxLength) {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            return title.left(MaxLength);
        title.truncate(blank);
    }
    return title;
}
