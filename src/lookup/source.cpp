#include "lookup/source.h"

#include "facts/normaliser.h"
#include "lookup/recordlines.h"

void setRecordLines(LookupResult &result, const QStringList &lines)
{
    result.recordText = lines.join(QStringLiteral("\r\n")).toUtf8();
    result.fields = RecordFieldsOf(result.recordText);
}

void setFailure(LookupResult &result, FailureReason reason, const QString &detail)
{
    result.status =
        reason == FailureReason::Throttled ? LookupStatus::Throttled : LookupStatus::Failed;
    result.reason = reason;
    const QString words = failureReasonText(reason);
    result.error = detail.isEmpty()  ? words
                   : words.isEmpty() ? detail
                                     : words + QStringLiteral(": ") + detail;
    setOutcomeStatus(result);
}

void setTextRecord(LookupResult &result, const QStringList &lines)
{
    setRecordLines(result, lines);
    result.facts = factsFromText(lines.join(QStringLiteral("\r\n")));
}
