#include "rdap/rdaprecord.h"

#include "facts/normaliser.h"
#include "lookup/source.h"
#include "rdap/rdaprender.h"

void setRdapRecord(LookupResult &result, const QJsonObject &registry, const QJsonObject &registrar)
{
    setRecordLines(result, registrar.isEmpty() ? RenderRdap(registry)
                                               : RenderRdapDomain(registry, registrar));
    result.facts = factsFromRdap(registry, registrar);
}
