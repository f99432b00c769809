#include "rdap/rdaprecord.h"

#include "facts/normaliser.h"
#include "lookup/source.h"
#include "rdap/rdaprender.h"

void setRdapRecord(LookupResult &result, const RdapValue &registry, const RdapValue &registrar,
                   RdapObjectKind asked)
{
    const RdapReading reading = readRdap(registry, registrar, asked);
    // The lines joined and encoded as they are made (setRecordLines's text, without the list),
    // cut into fields as they are written.
    RdapRecordText record = RenderRdapRecord(reading);
    result.recordText = std::move(record.text);
    result.fields = std::move(record.fields);
    result.facts = factsFromRdapReading(reading);
}
