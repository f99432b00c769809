#pragma once

#include "facts/rdapreading.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>

enum class RdapQueryKind
{
    Domain,
    Address,
    AsNumber
};

// The kind of object a query asks for: a domain, an IP network, an AS number.
RdapObjectKind RdapObjectKindAsked(RdapQueryKind kind);

// What one RDAP answer means for the lookup.
struct RdapAnswer
{
    enum class Outcome
    {
        Record,    // the RDAP object is in `object`
        Available, // the authoritative registry has no such domain
        Throttled, // asked to come back later: `retryAfterSeconds` (-1: the server named no time)
        Failed,    // `reason` says why
    };
    Outcome outcome = Outcome::Failed;
    RdapJson object;
    int retryAfterSeconds = -1;
    QString reason;
};

// Reads an answer from its HTTP status, body and Retry-After header. `fromRegistry`: the server
// asked is the one the bootstrap names for the query, so its "not found" for a domain means the
// name is not registered; anywhere else (a registrar, an address or AS number) it is a failure.
// A 2xx body must be a JSON object that names itself an RDAP object ("objectClassName" or
// "rdapConformance"), of the class the query asks for when it names one.
RdapAnswer ReadRdapAnswer(RdapQueryKind kind, bool fromRegistry, int httpStatus,
                          const QByteArray &body, const QByteArray &retryAfter,
                          const QDateTime &now = QDateTime::currentDateTimeUtc());

// Seconds to wait from a Retry-After value: a number of seconds or an HTTP date (IMF-fixdate,
// RFC 850, asctime), a date in the past being 0. -1 when it is neither.
int RetryAfterSeconds(const QByteArray &value, const QDateTime &now);

// Whether a URL taken from an answer may be followed: http(s) with a host, and plain http only
// to a loopback address. This is the scheme rule alone; addresses a host must not resolve to
// are refused by the caller's address rules (the `allowed` hook below, and the transport).
bool IsFollowableRdapLink(const QUrl &url);

// The registrar's RDAP URL in a registry's domain answer: the link with rel "related" and type
// "application/rdap+json" whose href is not the answer's own ("self") and which
// IsFollowableRdapLink and `allowed` (when given) accept. Empty when there is none.
QUrl RdapRegistrarLink(const RdapValue &domain,
                       const std::function<bool(const QUrl &)> &allowed = {});
