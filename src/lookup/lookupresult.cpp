#include "lookup/lookupresult.h"

QString failureReasonText(FailureReason reason)
{
    switch (reason) {
    case FailureReason::None:
        return {};
    case FailureReason::InvalidAddress:
        return QStringLiteral("not a domain name, IP address or AS number");
    case FailureReason::NoSource:
        return QStringLiteral("no source chosen");
    case FailureReason::Timeout:
        return QStringLiteral("timeout");
    case FailureReason::Refused:
        return QStringLiteral("refused");
    case FailureReason::TooLarge:
        return QStringLiteral("answer too large");
    case FailureReason::HttpStatus:
        return QStringLiteral("HTTP status");
    case FailureReason::Redirect:
        return QStringLiteral("redirect refused");
    case FailureReason::Unparseable:
        return QStringLiteral("page could not be parsed");
    case FailureReason::NoRecord:
        return QStringLiteral("no record element on the page");
    case FailureReason::Network:
        return QStringLiteral("network failure");
    case FailureReason::Throttled:
        return QStringLiteral("throttled");
    case FailureReason::ServerDown:
        return QStringLiteral("server down");
    case FailureReason::NoService:
        return QStringLiteral("no server for the address");
    case FailureReason::NoAnswer:
        return {};
    case FailureReason::Unassigned:
        return QStringLiteral("not assigned");
    }
    return {};
}

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

QString failureText(const LookupResult &result)
{
    if (result.ok())
        return {};
    return result.error.isEmpty() ? failureReasonText(result.reason) : result.error;
}

void setOutcomeStatus(LookupResult &result)
{
    switch (result.status) {
    case LookupStatus::Ok:
        return;
    case LookupStatus::Available:
        result.facts.status = RecordStatus::Available;
        return;
    case LookupStatus::Throttled:
        result.facts.status = RecordStatus::Throttled;
        return;
    case LookupStatus::Failed:
        result.facts.status = result.reason == FailureReason::InvalidAddress ||
                                      result.reason == FailureReason::Unassigned
                                  ? RecordStatus::Invalid
                              : result.reason == FailureReason::Throttled ? RecordStatus::Throttled
                                                                          : RecordStatus::Failed;
        return;
    }
}

bool isReusable(const LookupResult &result)
{
    return result.ok() && result.facts.status != RecordStatus::Throttled &&
           result.facts.status != RecordStatus::Failed &&
           result.facts.status != RecordStatus::Invalid;
}
