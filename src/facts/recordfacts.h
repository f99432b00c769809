#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <span>

// The facts one whois record states, read the same way for every registry. A fact the record
// does not state stays empty.
struct RecordFacts
{
    QString status; // one of the RecordStatus values
    QString registrar;
    QString registrarIanaId;
    QString created; // UTC, YYYY-MM-DDTHH:MM:SSZ
    QString updated;
    QString expires;
    QStringList nameServers; // lower case, no trailing dot, record order, no duplicates
    QStringList domainStatus;
    QString dnssec; // "signed" or "unsigned"
    QString registrantOrganization;
    QString registrantCountry;
    QString abuseEmail;
    QString abusePhone;
    QString networkRange;
    QString networkCidr;
    QString networkName;
    QString networkHandle;
    QString networkCountry;
    QString networkOrganization;
    QString originAs;

    bool operator==(const RecordFacts &) const = default;
};

// The values of RecordFacts::status.
namespace RecordStatus {
inline const QString Registered = QStringLiteral("registered");
inline const QString Available = QStringLiteral("available");
inline const QString Reserved = QStringLiteral("reserved");
inline const QString Throttled = QStringLiteral("throttled");
inline const QString Failed = QStringLiteral("failed");
inline const QString Invalid = QStringLiteral("invalid");
} // namespace RecordStatus

// One column of the facts: its JSON key, its caption, and the fact as a table cell (lists joined
// by a space) and as a JSON value (lists as arrays). `list` is set for the facts that are lists:
// their items, for writers that lay out arrays themselves.
struct FactColumn
{
    const char *jsonKey;
    const char *caption;
    QString (*cell)(const RecordFacts &);
    QJsonValue (*json)(const RecordFacts &);
    QStringList (*list)(const RecordFacts &) = nullptr;
};

// Every fact in column order.
std::span<const FactColumn> factColumns();
