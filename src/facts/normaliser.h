#pragma once

#include "facts/rdapreading.h"
#include "facts/recordfacts.h"

#include <QStringView>

// The facts of a port-43 answer or of a web page's rendered record (lines joined by CR LF or
// LF). Reads the text once, line by line; never fails, whatever the input.
RecordFacts factsFromText(QStringView record);

// The facts of RDAP objects (RFC 9083): the registry's answer and, when it was followed, the
// registrar's, read as readRdap reads them (`asked`: the kind the query asked for).
RecordFacts factsFromRdap(const RdapValue &registry, const RdapValue &registrar = {},
                          RdapObjectKind asked = RdapObjectKind::Unknown);
// The same from objects already read.
RecordFacts factsFromRdapReading(const RdapReading &reading);

// Whether an answer is a refusal because of the query rate (and carries no record).
bool isThrottleAnswer(QStringView text);

// Whether an answer says the name is not registered (and is no refusal).
bool isNoMatchAnswer(QStringView text);
