#include "lookup/source.h"

#include "facts/normaliser.h"
#include "facts/notices.h"
#include "lookup/recordlines.h"

#include <algorithm>

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

void dropNoticeFields(LookupResult &result)
{
    if (result.recordText.isEmpty() ||
        (result.source != SourceKind::Whois && result.source != SourceKind::Rdap))
        return;
    const QString text = QString::fromUtf8(result.recordText);
    const QList<QStringView> lines = QStringView(text).split(u"\r\n");
    const std::vector<bool> notice = noticeLines(lines);
    if (std::find(notice.begin(), notice.end(), true) != notice.end())
        result.fields = RecordFieldsOf(result.recordText, &notice);
}
