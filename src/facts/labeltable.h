#pragma once

#include "facts/recordfacts.h"

#include <QString>
#include <QStringView>

#include <optional>

// What a labelled line of a whois record carries.
enum class Field
{
    None,
    DomainName,
    Registrar,
    RegistrarIanaId,
    Created,
    Updated,
    Expires,
    NameServer,
    DomainStatus,
    Dnssec,
    DnssecKey, // a key or DS record is listed: the delegation is signed
    RegistrantOrganization,
    RegistrantCountry,
    AbuseEmail,
    AbusePhone,
    NetworkRange, // starts a network object (inetnum, NetRange, ...)
    NetworkCidr,
    NetworkName,
    NetworkHandle,
    NetworkCountry,
    NetworkOrganization,
    OriginAs,
    AutNum, // starts an AS number object
};

struct LabelMeaning
{
    Field field = Field::None;
    int rank = 0;         // lower wins when two labels give the same fact
    bool generic = false; // a bare word ("created", "status") that only counts outside contact
                          // and registrar sections
};

// The meaning of a normalised label (see normalisedLabel) or of "section/label" for a label
// under a section heading, "section/" for the unlabelled lines under it. Field::None when unknown.
LabelMeaning labelMeaning(const QString &label);

// The meaning of a label inside a network or AS number object (RIR answers), which takes
// precedence there; nothing when the label has no meaning of its own in such an object.
std::optional<LabelMeaning> networkLabelMeaning(const QString &label);

// Whether a section heading speaks of something else than the domain (a contact, the registrar,
// ...), so that labels marked generic under it are not the domain's.
bool isForeignSection(const QString &section);

// Whether a block whose first label is this one is an object other than the domain (a registrar,
// a contact, ...), whose generic labels do not speak of the domain.
bool isOtherObject(const QString &firstLabel);

// A label as the tables hold it: lower case, single spaces, without enclosing brackets, leading
// ">>>" or "*" marks, or trailing dot leaders.
QString normalisedLabel(QStringView label);

// Lines without a colon that still carry a fact ("Record created on 2001-02-03"): the fact and
// the length of the leading words, or Field::None.
Field prefixedFact(QStringView line, qsizetype &prefixLength);

// What a status value says about the name itself: "free", "available", "reserved", ... as a
// RecordStatus; Unknown for the status words of a registered name.
RecordStatus statusFromStatusValue(QStringView value);

// "signed", "unsigned" or empty for a DNSSEC value.
QString dnssecFromValue(QStringView value);

// An ISO 3166 alpha-2 code for a country value, or empty when it cannot be told.
QString countryCode(QStringView value);

// Whether a value is a redaction placeholder rather than data ("REDACTED FOR PRIVACY", ...).
bool isRedactedValue(QStringView value);
