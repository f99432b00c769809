#include "rdap/rdaprecord.h"

#include "facts/normaliser.h"
#include "lookup/recordlines.h"
#include "lookup/source.h"
#include "rdap/rdaprender.h"

void setRdapRecord(LookupResult &result, const RdapValue &registry, const RdapValue &registrar,
                   RdapObjectKind asked)
{
    const RdapReading reading = readRdap(registry, registrar, asked);
    // The lines joined and encoded as they are made (setRecordLines's text, without the list).
    result.recordText = RenderRdapReadingText(reading);
    result.fields = RecordFieldsOf(result.recordText, nullptr, FieldCut::Answer);
    result.facts = factsFromRdapReading(reading);
}
