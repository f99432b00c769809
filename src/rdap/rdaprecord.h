#pragma once

#include "facts/rdapreading.h"
#include "lookup/lookupresult.h"

// An RDAP answer as the record: the objects rendered as lines (the registrar's joined to the
// registry's when there is one), the facts read from the objects themselves, both from one
// reading of them. `asked` is the kind the query asked for, which an object without
// "objectClassName" is read as; Unknown (a saved answer) lets the object's members tell.
void setRdapRecord(LookupResult &result, const RdapValue &registry, const RdapValue &registrar = {},
                   RdapObjectKind asked = RdapObjectKind::Unknown);
