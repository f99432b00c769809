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
    RegistrarHandle, // the registry's handle of the registrar ("R22-LRCC", "REG-EXAMPLE")
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

// A label as the tables hold it: lower case, single spaces ('_' counts as one), without enclosing
// brackets, leading ">>>" or "*" marks, trailing dot leaders, or a trailing number ("NS 1",
// "ns_name_01").
QString normalisedLabel(QStringView label);

// What a record's own label means, tried as written and then as its parts: a bilingual label
// ("Nome de domínio / Domain Name") by each side, a label with a note in parentheses
// ("Creation Date (dd/mm/yyyy)") without it. `note` gets the note's text, if any.
LabelMeaning labelMeaningOfParts(const QString &label, QStringView *note = nullptr);

// Whether a label as written (not normalised) is one the tables give a meaning.
bool isKnownLabel(QStringView label);

// Whether the first label of a block starts an object none of whose labels speak of the domain
// (the name server objects a registry lists before the domain: "Server Name").
bool isIgnoredObject(const QString &firstLabel);

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

// Whether a registrar value says there is none ("No registrar listed. This domain is registered
// directly with ...", "N/A").
bool isNoRegistrarValue(QStringView value);

// The white space of a record's lines: space, tab, CR, no-break and ideographic space. Inline:
// the readers ask it of every character of every answer.
inline bool isRecordBlank(QChar c)
{
    const char16_t u = c.unicode();
    // Printable ASCII, most of every answer, is passed with one comparison.
    if (char16_t(u - 0x21) < char16_t(0xa0 - 0x21))
        return false;
    return u == ' ' || u == '\t' || u == '\r' || u == 0xa0 || u == 0x3000;
}
// `s` without that white space at its ends.
inline QStringView trimmedRecordText(QStringView s)
{
    const QChar *begin = s.begin();
    const QChar *end = s.end();
    while (begin < end && isRecordBlank(*begin))
        ++begin;
    while (end > begin && isRecordBlank(end[-1]))
        --end;
    return QStringView(begin, end);
}
