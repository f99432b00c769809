#pragma once

#include "facts/recordfacts.h"

#include <QHash>
#include <QString>

struct LookupResult;

// The counts a run ends with: lookups by status, and the most common reasons of the failed
// ones, for the summary line on standard error and the exit code.
class RunSummary
{
public:
    // Whether a lookup got its answer: it ended with a record or a registry's "not found" whose
    // status is registered, available or reserved.
    static bool answered(const LookupResult &result);

    void add(const LookupResult &result);

    qsizetype lookups() const { return m_lookups; }
    qsizetype unanswered() const { return m_unanswered; }

    // "6 lookups in 2.0 s (2.99/s): 3 registered, 1 available, 2 failed (1 timeout,
    // 1 Connection refused)": the statuses in their usual order, the failed ones' three most
    // common reasons.
    QString text(double seconds) const;

private:
    qsizetype m_lookups = 0;
    qsizetype m_unanswered = 0;
    QHash<RecordStatus, qsizetype> m_byStatus;
    QHash<QString, qsizetype> m_failureReasons;
};
