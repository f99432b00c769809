#include "app/apptitle.h"

#include <QLocale>

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

QString RunCaption(qsizetype done, qsizetype total, qsizetype failed)
{
    const QLocale english(QLocale::English);
    QString caption = ProductName + QStringLiteral(" - ") + english.toString(qlonglong(done)) +
                      QStringLiteral(" of ") + english.toString(qlonglong(total));
    if (failed > 0)
        caption +=
            QStringLiteral(", ") + english.toString(qlonglong(failed)) + QStringLiteral(" failed");
    return caption;
}
