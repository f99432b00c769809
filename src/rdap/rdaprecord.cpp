#include "rdap/rdaprecord.h"

#include "facts/normaliser.h"
#include "lookup/source.h"
#include "rdap/rdaprender.h"

void setRdapRecord(LookupResult &result, const QJsonObject &registry, const QJsonObject &registrar,
                   RdapObjectKind asked)
{
    const RdapReading reading = readRdap(registry, registrar, asked);
    setRecordLines(result, RenderRdapReading(reading));
    result.facts = factsFromRdapReading(reading);
}
