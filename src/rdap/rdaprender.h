#pragma once

#include "facts/rdapreading.h"
#include "text/recordfield.h"

#include <QStringList>

// The record lines ("name: value", in order) of RDAP objects as readRdap reads them (the
// facts are read from the same reading), named as registries' own port-43 records name them: a
// domain in the ICANN layout ("Domain Name", "Registrar", "Registry Expiry Date", one "Domain
// Status" and one "Name Server" line each, contacts as "Registrant Organization", "Tech Email",
// ...), an IP network and an AS number in the RIR layout ("NetRange", "CIDR", "NetName", ...,
// "ASNumber", "ASName", ...). Dates are UTC, "2024-01-02T03:04:05Z" (as given when they cannot be
// read). Contacts come from the entities' jCards, nested entities included. Values the answer
// marks as redacted, and values that only say they are withheld ("REDACTED FOR PRIVACY" and the
// like), are left out, as are empty ones. Error objects and objects of other kinds give no lines.
QStringList RenderRdapReading(const RdapReading &reading);
// The same lines as the record's text (joined by CR LF, in UTF-8) and its fields, cut as they
// are written: the fields RecordFieldsOf would cut from the text (FieldCut::Answer), without
// reading it again.
struct RdapRecordText
{
    QByteArray text;
    RecordFields fields;
};
RdapRecordText RenderRdapRecord(const RdapReading &reading);

// One object (`asked`: the kind the query asked for, see rdapObjectKind).
QStringList RenderRdap(const RdapValue &object, RdapObjectKind asked = RdapObjectKind::Unknown);

// A registry's domain answer joined with its registrar's: the registry's dates, statuses, name
// servers and registrar details stand; the registrar's answer supplies the contacts (a contact
// it leaves empty is taken from the registry) and what the registry leaves out.
QStringList RenderRdapDomain(const RdapValue &registry, const RdapValue &registrar);
