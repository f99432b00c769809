#include "run/savedanswer.h"

#include "facts/normaliser.h"
#include "lookup/recordlines.h"
#include "lookup/source.h"
#include "rdap/rdaprecord.h"
#include "web/pagetext.h"
#include "whois/whoistext.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <vector>

namespace {

// The first byte that is not white space, or 0.
char firstMark(const QByteArray &bytes)
{
    for (char c : bytes) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        return c;
    }
    return 0;
}

// An RDAP answer is a JSON object; port-43 text never starts with '{' and parses whole.
bool looksLikeJsonObject(const QByteArray &bytes)
{
    return firstMark(bytes) == '{';
}

// A saved page read as its site reads it.
LookupResult resultFromPage(const QString &address, const QByteArray &page,
                            std::optional<Site> site)
{
    LookupResult result;
    result.address = address;
    const QByteArray utf8 = DecodePageUtf8(page);
    const std::vector<Site> sites =
        site ? std::vector<Site>{*site}
             : std::vector<Site>{Site::Option2, Site::Option3, Site::Option1};
    std::optional<QByteArray> record;
    Site used = sites.front();
    for (const Site candidate : sites) {
        used = candidate;
        record = TryRecordTextUtf8(utf8, candidate);
        if (!record || !record->isEmpty())
            break;
    }
    result.source = Sites::sourceKind(used);
    if (!record) {
        setFailure(result, FailureReason::Unparseable);
        return result;
    }
    if (record->isEmpty()) {
        setFailure(result, FailureReason::NoRecord);
        return result;
    }
    result.recordText = *record;
    result.facts = factsFromText(QString::fromUtf8(*record));
    result.fields = RecordFieldsOf(*record);
    setOutcomeStatus(result);
    return result;
}

} // namespace

LookupResult resultFromSavedAnswer(const QString &address, const QByteArray &saved,
                                   std::optional<Site> site)
{
    const QByteArray bytes = saved.startsWith("\xEF\xBB\xBF") ? saved.sliced(3) : saved;
    if (firstMark(bytes) == '<')
        return resultFromPage(address, saved, site);
    LookupResult result;
    result.address = address;
    if (looksLikeJsonObject(bytes)) {
        const RdapJson document = RdapJson::parse(bytes);
        if (document.isObject()) {
            result.source = SourceKind::Rdap;
            setRdapRecord(result, document);
            return result;
        }
    }
    result.source = SourceKind::Whois;
    setTextRecord(result, WhoisText::recordText(WhoisText::decode(bytes)));
    return result;
}
