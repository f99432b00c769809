#pragma once

#include "facts/recordfacts.h"
#include "lookup/sourcekind.h"
#include "text/recordfield.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// How a lookup ended.
enum class LookupStatus
{
    Ok,        // a whole answer came back (its record may still be empty)
    Available, // a whole answer: the registry has no such domain (RDAP "not found")
    Failed,    // no whole answer: `reason` says why
    Throttled, // the server kept refusing our pace: `error` names it
};

// Why a lookup failed; `LookupResult::error` carries the detail in words.
enum class FailureReason
{
    None,
    InvalidAddress, // not something a source can ask about; never sent
    NoSource,       // no source chosen
    Timeout,        // the answer was not complete within its deadline
    Refused,        // the connection was refused or reset, the host not found
    TooLarge,       // the answer exceeded its size cap
    HttpStatus,     // an HTTP status the source does not read as an answer
    Redirect,       // too many redirects, or one to a refused scheme or address
    Unparseable,    // the page could not be parsed within its bounds
    NoRecord,       // the page holds no record element
    Network,        // any other transfer failure
    Throttled,      // the server kept asking us to slow down
    ServerDown,     // the server could not be reached several times in a row this run
    NoService,      // no server is known for the address
    NoAnswer,       // the servers asked gave no usable answer (the detail says which and why)
    Unassigned,     // the registries hold no such thing: a top-level domain that does not
                    // exist, an address or AS number no registry has a record of
};

// The words of a reason, for rows and the command line's "error".
QString failureReasonText(FailureReason reason);

// Why a step of a lookup gave no answer: the kind, for decisions, and the detail in words, for
// people ("whois.nic.example is down: connection refused").
struct LookupError
{
    FailureReason kind = FailureReason::Network;
    QString detail;
};

// One address looked up: what was asked, who answered, the record's fields in order and the
// facts read from it. `facts.status` says how the lookup ended where the lookup decides it
// (failed, throttled, invalid address, RDAP "not found"), otherwise what the record says.
struct LookupResult
{
    QString address;
    std::optional<SourceKind> source; // none when no source was chosen
    LookupStatus status = LookupStatus::Ok;
    FailureReason reason = FailureReason::None;
    QString error;         // empty when the lookup succeeded
    QStringList servers;   // the servers asked, in order
    QByteArray recordText; // the record as it came, UTF-8, lines joined by CR LF
    RecordFields fields;   // the record's "name: value" fields in record order (pieces of it)
    RecordFacts facts;
    // When the answer was given, ms since 1970 UTC; 0 until the run sets it. An answer taken
    // from the store keeps the time its server last gave it.
    qint64 askedAtMs = 0;
    bool fromStore = false; // answered from the store, no server asked
    // The facts (their JSON keys) that differ from the address's previous stored answer from
    // the same source; empty when nothing changed or there was none.
    QStringList changed;
    // The answer the record was read from, in the form --read-records reads it back: port 43
    // the answer's text (UTF-8, CR LF), RDAP the registry's JSON object as sent, a site its
    // page (UTF-8). Empty when there was none or the run did not keep it.
    QByteArray answer;

    bool ok() const { return status == LookupStatus::Ok || status == LookupStatus::Available; }
};

// Whether the result may stand for a later lookup of the same address: a whole answer, never a
// failure, a refusal for the pace or an address no source can ask about.
bool isReusable(const LookupResult &result);
// Why the lookup did not get its answer, as the tables' "Error" column and jsonl's "error" say
// it: the detail, else the reason's words; empty when it got its answer.
QString failureText(const LookupResult &result);

// Puts the lookup's outcome into `facts.status` where the outcome decides it: a failure is
// "failed" ("invalid" for an address no source can ask about or no registry holds), throttling
// "throttled", RDAP's "not found" "available". A whole answer keeps the status its record gives.
void setOutcomeStatus(LookupResult &result);
