#include "cli/duration.h"

#include <QDateTime>

namespace {

constexpr qint64 Second = 1000;
constexpr qint64 LongestMs = qint64(1000) * 366 * 24 * 3600 * Second;

qint64 unitMs(QChar unit)
{
    switch (unit.toLower().unicode()) {
    case 's':
        return Second;
    case 'm':
        return 60 * Second;
    case 'h':
        return 3600 * Second;
    case 'd':
        return 24 * 3600 * Second;
    case 'w':
        return 7 * 24 * 3600 * Second;
    default:
        return 0;
    }
}

} // namespace

namespace Duration {

std::optional<qint64> parseMs(const QString &text)
{
    const QString t = text.trimmed();
    if (t == QLatin1String("0"))
        return 0;
    if (t.isEmpty())
        return std::nullopt;
    qint64 total = 0;
    qsizetype i = 0;
    while (i < t.size()) {
        qint64 number = 0;
        const qsizetype digitsFrom = i;
        while (i < t.size() && t[i].isDigit() && t[i].unicode() < 128) {
            number = number * 10 + (t[i].unicode() - '0');
            if (number > LongestMs)
                return std::nullopt;
            ++i;
        }
        if (i == digitsFrom || i == t.size())
            return std::nullopt;
        const qint64 unit = unitMs(t[i++]);
        if (unit == 0)
            return std::nullopt;
        total += number * unit;
        if (total > LongestMs)
            return std::nullopt;
    }
    return total;
}

std::optional<qint64> parseSinceMs(const QString &text, qint64 nowMs)
{
    const QString t = text.trimmed();
    if (const std::optional<qint64> span = parseMs(t))
        return nowMs - *span;
    QDate date = QDate::fromString(t, Qt::ISODate);
    if (date.isValid() && t.size() == 10)
        return QDateTime(date, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QDateTime moment = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!moment.isValid())
        return std::nullopt;
    if (moment.timeSpec() == Qt::LocalTime)
        moment.setTimeSpec(Qt::UTC);
    return moment.toMSecsSinceEpoch();
}

QString text(qint64 ms)
{
    qint64 seconds = qMax<qint64>(0, ms / Second);
    const qint64 days = seconds / 86400;
    const qint64 hours = seconds / 3600 % 24;
    const qint64 minutes = seconds / 60 % 60;
    seconds %= 60;
    if (days > 0)
        return hours ? QStringLiteral("%1d %2h").arg(days).arg(hours)
                     : QStringLiteral("%1d").arg(days);
    if (hours > 0)
        return minutes ? QStringLiteral("%1h %2m").arg(hours).arg(minutes)
                       : QStringLiteral("%1h").arg(hours);
    if (minutes > 0)
        return QStringLiteral("%1m").arg(minutes);
    return QStringLiteral("%1s").arg(seconds);
}

} // namespace Duration
