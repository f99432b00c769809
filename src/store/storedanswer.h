#pragma once

#include "lookup/lookupresult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// One answer as the store keeps it.
struct StoredAnswer
{
    qint64 id = 0;
    QString asked;   // the address as asked: the key of reuse, history and changes
    QString address; // as typed
    QString source;
    qint64 askedAtMs = 0;  // first given
    qint64 lastSeenMs = 0; // last given (an identical answer moves it)
    qint64 digest = 0;     // of the record without its volatile lines
    QStringList changed;   // the facts that differed from the previous whole answer
    LookupResult result;   // status, reason, error, servers, record, fields, facts
    // Read but not yet decoded (AnswerStore::Decode::Later): the payload as kept.
    qint64 dictionary = 0;
    QByteArray compressed;
};

namespace StoredPayload {

// What the payload holds: the servers, the outcome, the facts and the record text, in a compact
// binary form (lengths first), before compression.
QByteArray encode(const LookupResult &result);
// Fills `result` from a payload; false when it is not one this build can read.
bool decode(QByteArrayView payload, LookupResult &result);

} // namespace StoredPayload

// The key an address is kept under: its ASCII form when it is a domain name, IP address,
// network or AS number, else the text as typed with its end spaces trimmed.
QString askedForm(const QString &address);

// A result's source as the store keeps it ("whois", "rdap", "site2", ...; empty for none), and
// back.
QString sourceText(const std::optional<SourceKind> &source);
std::optional<SourceKind> sourceOfText(const QString &text);
