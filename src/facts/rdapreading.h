#pragma once

#include "facts/rdapjson.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// One reading of RDAP objects (RFC 9083) that the record lines and the facts are both made from,
// so the two cannot disagree: entities found by role (nested ones included), their jCards read
// into contacts with redacted and placeholder values left out, events as dates, status values as
// EPP codes (RFC 8056), and an address range as the prefixes that cover it. Every text is trimmed
// and its runs of white space made one space.

// What an RDAP object describes.
enum class RdapObjectKind
{
    Unknown,
    Domain,
    IpNetwork,
    Autnum,
};

// The "objectClassName" of a kind ("domain", "ip network", "autnum"); empty for Unknown.
QString rdapObjectClassName(RdapObjectKind kind);

// The kind of an object: its "objectClassName" when it has one; without it (older RIR answers)
// the kind that was asked for; when nothing was asked (a saved answer), its members tell:
// "startAddress"/"endAddress" an IP network, "startAutnum" an AS number, "ldhName" a domain.
RdapObjectKind rdapObjectKind(const RdapValue &object,
                              RdapObjectKind asked = RdapObjectKind::Unknown);
// The kind an "objectClassName" value names (without letter case, trimmed); Unknown for any
// other value.
RdapObjectKind rdapClassKind(const RdapValue &className);

// The parts of a contact its jCard gives, each the first value of its kind that is neither
// empty, a placeholder ("REDACTED FOR PRIVACY", ...) nor marked redacted by the answer.
struct RdapContact
{
    enum Part
    {
        Name,
        Organization,
        Street,
        City,
        Region,
        PostalCode,
        Country,
        Phone,
        Fax,
        Email,
        PartCount
    };
    QString handle;
    QString kind;        // the jCard's "kind": "individual", "org", ...
    QString countryCode; // the address's "cc" parameter
    std::array<QString, PartCount> parts;

    const QString &operator[](Part part) const { return parts[part]; }
    bool isEmpty() const;
    // The organisation the card names: its "org", else its name when the card is one.
    QString organization() const;
    // Its "org", else its name whatever the card stands for (a network's holder).
    QString organizationOrName() const;
};

// A date of an event: the text as the answer gives it, and in UTC ("2024-01-02T03:04:05Z"),
// empty when it cannot be read.
struct RdapDate
{
    QString text;
    QString utc;

    // The UTC form, else the text as given.
    const QString &shown() const { return utc.isEmpty() ? text : utc; }
};

// A domain: the registry's object, and the registrar's when it was followed. The registry's
// dates, statuses, name servers and registrar details stand and the registrar's answer fills
// what the registry leaves out; for the contacts the registrar's answer comes first (it holds
// the registration), the registry's standing in for a contact the registrar leaves empty.
struct RdapDomain
{
    enum Role
    {
        Registrant,
        Administrative,
        Technical,
        Billing,
        RoleCount
    };
    QString ldhName;
    QString unicodeName;
    QString handle;
    QString registrarWhoisServer;
    QString registrarUrl;
    RdapDate created;
    RdapDate updated;
    RdapDate expires;          // the registry's ("Registry Expiry Date")
    RdapDate registrarExpires; // the registrar's own, when it answered
    QString registrar;
    QString registrarIanaId;
    QString abuseEmail;
    QString abusePhone;
    QStringList statuses; // EPP codes: "clientTransferProhibited", "ok", "linked"
    std::array<RdapContact, RoleCount> contacts;
    QStringList nameServers; // as the answer writes them
    std::optional<bool> delegationSigned;
};

// An IP network or an AS number, as the RIRs answer for them.
struct RdapNetwork
{
    QString startAddress;
    QString endAddress;
    QStringList cidrs; // the answer's own prefix list, else the prefixes covering the range
    std::optional<qint64> startAutnum;
    std::optional<qint64> endAutnum;
    QString name;
    QString handle;
    QString parentHandle;
    QString type;
    QString country;
    RdapContact holder; // the entity with the "registrant" role
    RdapDate registered;
    RdapDate updated;
    QString abuseEmail;
    QString abusePhone;
    QStringList statuses;
};

struct RdapReading
{
    bool empty = true; // no object was read
    RdapObjectKind kind = RdapObjectKind::Unknown;
    bool error = false;  // an RDAP error object: nothing but its code is read
    int errorCode = 0;   // 404, 429, ...; 0 when it gives none that reads as a number
    RdapDomain domain;   // kind Domain
    RdapNetwork network; // kind IpNetwork or Autnum
};

// Reads a registry's answer and, for a domain, the registrar's answer (empty when none was
// followed). `asked` is the kind the query asked for (see rdapObjectKind).
RdapReading readRdap(const RdapValue &registry, const RdapValue &registrar = {},
                     RdapObjectKind asked = RdapObjectKind::Unknown);

// An RDAP status value as the EPP status code port-43 records print (RFC 8056): "active" is
// "ok", "associated" is "linked", the others run together in camel case ("client transfer
// prohibited" -> "clientTransferProhibited").
QString eppStatusOfRdap(QStringView status);
