#include "rdap/rdaprecord.h"

#include "facts/normaliser.h"
#include "lookup/source.h"
#include "rdap/rdaprender.h"

void setRdapRecord(LookupResult &result, const RdapValue &registry, const RdapValue &registrar,
                   RdapObjectKind asked)
{
    const RdapReading reading = readRdap(registry, registrar, asked);
    setRecordLines(result, RenderRdapReading(reading));
    result.facts = factsFromRdapReading(reading);
}
