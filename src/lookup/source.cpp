#include "lookup/source.h"

#include "facts/normaliser.h"
#include "lookup/recordlines.h"

QString sourceKindName(SourceKind kind)
{
    switch (kind) {
    case SourceKind::Site1:
        return QStringLiteral("site1");
    case SourceKind::Site2:
        return QStringLiteral("site2");
    case SourceKind::Site3:
        return QStringLiteral("site3");
    case SourceKind::Whois:
        return QStringLiteral("whois");
    case SourceKind::Rdap:
        return QStringLiteral("rdap");
    case SourceKind::Auto:
        return QStringLiteral("auto");
    }
    return {};
}

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
