#include "run/savedanswer.h"

#include "lookup/source.h"
#include "rdap/rdaprecord.h"
#include "whois/whoistext.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// An RDAP answer is a JSON object; port-43 text never starts with '{' and parses whole.
bool looksLikeJsonObject(const QByteArray &bytes)
{
    for (char c : bytes) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        return c == '{';
    }
    return false;
}

} // namespace

LookupResult resultFromSavedAnswer(const QString &address, const QByteArray &saved)
{
    const QByteArray bytes = saved.startsWith("\xEF\xBB\xBF") ? saved.sliced(3) : saved;
    LookupResult result;
    result.address = address;
    if (looksLikeJsonObject(bytes)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        if (error.error == QJsonParseError::NoError && document.isObject()) {
            result.source = sourceKindName(SourceKind::Rdap);
            setRdapRecord(result, document.object());
            return result;
        }
    }
    result.source = sourceKindName(SourceKind::Whois);
    setTextRecord(result, WhoisText::lines(WhoisText::decode(bytes)));
    return result;
}
