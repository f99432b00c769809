#include "cli/runsummary.h"

#include "lookup/lookupresult.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr std::array<RecordStatus, 6> StatusOrder{RecordStatus::Registered, RecordStatus::Available,
                                                  RecordStatus::Reserved,   RecordStatus::Throttled,
                                                  RecordStatus::Failed,     RecordStatus::Invalid};
constexpr int ReasonsShown = 3;
constexpr qsizetype MaxReasonLength = 60;

// A failure's reason in a few words: the reason's own words, else the last part of the detail
// (after the servers it names), which is usually what the system said.
QString reasonKey(const LookupResult &result)
{
    QString words = failureReasonText(result.reason);
    if (words.isEmpty()) {
        words = result.error;
        const qsizetype cut = words.lastIndexOf(QLatin1String(": "));
        if (cut >= 0)
            words = words.mid(cut + 2);
    }
    words = words.trimmed();
    if (words.size() > MaxReasonLength)
        words = words.first(MaxReasonLength - 3) + QStringLiteral("...");
    return words.isEmpty() ? QStringLiteral("no reason given") : words;
}

QString duration(double seconds)
{
    if (seconds < 60)
        return QString::number(seconds, 'f', 1) + QStringLiteral(" s");
    const qint64 whole = qint64(seconds + 0.5);
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (whole >= 3600)
        return QString::number(whole / 3600) + QLatin1Char(':') + two(whole / 60 % 60) +
               QLatin1Char(':') + two(whole % 60);
    return QString::number(whole / 60) + QLatin1Char(':') + two(whole % 60);
}

} // namespace

bool RunSummary::answered(const LookupResult &result)
{
    if (!result.ok())
        return false;
    const RecordStatus status = result.facts.status;
    return status == RecordStatus::Unknown || status == RecordStatus::Registered ||
           status == RecordStatus::Available || status == RecordStatus::Reserved;
}

void RunSummary::add(const LookupResult &result)
{
    ++m_lookups;
    if (!answered(result))
        ++m_unanswered;
    const RecordStatus status = result.facts.status;
    ++m_byStatus[status];
    if (!result.ok() && status == RecordStatus::Failed)
        ++m_failureReasons[reasonKey(result)];
}

QString RunSummary::text(double seconds) const
{
    QString line =
        QString::number(m_lookups) +
        (m_lookups == 1 ? QStringLiteral(" lookup in ") : QStringLiteral(" lookups in ")) +
        duration(seconds);
    if (m_lookups > 0 && seconds > 0) {
        const double rate = double(m_lookups) / seconds;
        line += QStringLiteral(" (") + QString::number(rate, 'f', rate < 10 ? 2 : 1) +
                QStringLiteral("/s)");
    }
    QStringList statuses;
    for (const RecordStatus status : StatusOrder) {
        const qsizetype n = m_byStatus.value(status);
        if (n == 0)
            continue;
        QString part = QString::number(n) + QLatin1Char(' ') + recordStatusName(status);
        if (status == RecordStatus::Failed && !m_failureReasons.isEmpty()) {
            std::vector<std::pair<QString, qsizetype>> reasons;
            for (auto it = m_failureReasons.cbegin(); it != m_failureReasons.cend(); ++it)
                reasons.emplace_back(it.key(), it.value());
            std::sort(reasons.begin(), reasons.end(), [](const auto &a, const auto &b) {
                return a.second != b.second ? a.second > b.second : a.first < b.first;
            });
            QStringList shown;
            for (size_t i = 0; i < reasons.size() && i < size_t(ReasonsShown); ++i)
                shown << QString::number(reasons[i].second) + QLatin1Char(' ') + reasons[i].first;
            if (reasons.size() > size_t(ReasonsShown))
                shown << QStringLiteral("...");
            part += QStringLiteral(" (") + shown.join(QStringLiteral(", ")) + QLatin1Char(')');
        }
        statuses << part;
    }
    // Records that state no status.
    if (const qsizetype n = m_byStatus.value(RecordStatus::Unknown))
        statuses << QString::number(n) + QStringLiteral(" answered");
    if (!statuses.isEmpty())
        line += QStringLiteral(": ") + statuses.join(QStringLiteral(", "));
    return line;
}
