#include "lookup/source.h"

#include "facts/normaliser.h"
#include "facts/notices.h"
#include "lookup/recordlines.h"
#include "text/findchar.h"

#include <algorithm>
#include <vector>

void setRecordLines(LookupResult &result, const QStringList &lines)
{
    setRecordText(result, lines.join(QStringLiteral("\r\n")));
}

void setRecordText(LookupResult &result, QStringView text)
{
    result.recordText = text.toUtf8();
    // The conversion leaves room for three bytes a character; a result kept for the store or
    // the table would hold that room as long as it lives (shrunk in place).
    result.recordText.squeeze();
    result.fields = RecordFieldsOf(result.recordText, nullptr, FieldCut::Answer);
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
    setTextRecord(result, lines.join(QStringLiteral("\r\n")));
}

void setTextRecord(LookupResult &result, QStringView record)
{
    setRecordText(result, record);
    result.facts = factsFromText(record);
}

void dropNoticeFields(LookupResult &result)
{
    if (result.recordText.isEmpty() ||
        (result.source != SourceKind::Whois && result.source != SourceKind::Rdap))
        return;
    const QString text = QString::fromUtf8(result.recordText);
    // Cut at each CR LF, as a split would, but found by character: a two-character pattern
    // search cost a tenth of a port-43 lookup.
    std::vector<QStringView> lines;
    const QStringView view(text);
    qsizetype start = 0;
    for (qsizetype at = findChar(view, u'\r'); at >= 0; at = findChar(view, u'\r', at + 1)) {
        if (at + 1 < view.size() && view[at + 1] == u'\n') {
            lines.push_back(view.sliced(start, at - start));
            start = at + 2;
            at = start - 1;
        }
    }
    lines.push_back(view.sliced(start));
    const std::vector<bool> notice = noticeLines(lines);
    if (std::find(notice.begin(), notice.end(), true) != notice.end())
        // A port-43 or RDAP result's fields are its record cut as an answer (setRecordText,
        // setRdapRecord, the store's reading): the notices' fields are dropped from them.
        dropLineFields(result.fields, result.recordText, notice);
}
