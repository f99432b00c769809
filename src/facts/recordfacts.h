#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <span>

// What a record says about the name or block it was asked about, or how the lookup ended where
// the lookup decides it. Written as a word ("registered", ...) only by the writers.
enum class RecordStatus
{
    Unknown, // nothing said: written as an empty value
    Registered,
    Available,
    Reserved,
    Throttled,
    Failed,
    Invalid,
};

// The word of a status in tables and jsonl: "registered", "available", ...; empty for Unknown.
QString recordStatusName(RecordStatus status);

// The facts one whois record states, read the same way for every registry. A fact the record
// does not state stays empty.
struct RecordFacts
{
    RecordStatus status = RecordStatus::Unknown;
    QString registrar;
    QString registrarIanaId;
    QString registrarHandle; // the registry's handle of the registrar, when it gives one
    QString created;         // UTC, YYYY-MM-DDTHH:MM:SSZ
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
