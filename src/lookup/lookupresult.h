#pragma once

#include "results/recordfield.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// How a lookup ended.
enum class LookupStatus
{
    Ok,     // a whole answer came back (its record may still be empty)
    Failed, // no whole answer: `reason` says why
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
};

// The words of a reason, for rows and the command line's "error".
QString failureReasonText(FailureReason reason);

// One address looked up: what was asked, who answered, and the record's fields in order.
struct LookupResult
{
    QString address;
    QString source; // "site1", "site2", "site3", ...
    LookupStatus status = LookupStatus::Ok;
    FailureReason reason = FailureReason::None;
    QString error;         // empty when the lookup succeeded
    QStringList servers;   // the servers asked, in order
    QByteArray recordText; // the record as it came, UTF-8, lines joined by CR LF
    RecordFields fields;   // the record's "name: value" fields in record order (pieces of it)

    bool ok() const { return status == LookupStatus::Ok; }
};
