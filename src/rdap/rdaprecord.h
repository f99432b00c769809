#pragma once

#include "lookup/lookupresult.h"

#include <QJsonObject>

// An RDAP answer as the record: the objects rendered as lines (the registrar's joined to the
// registry's when there is one), the facts read from the objects themselves.
void setRdapRecord(LookupResult &result, const QJsonObject &registry,
                   const QJsonObject &registrar = {});
