#pragma once

#include <QString>

// Where a run's answers come from: the three web sites, port-43 WHOIS, RDAP, or RDAP with
// port 43 where RDAP has no service.
enum class SourceKind
{
    Site1,
    Site2,
    Site3,
    Whois,
    Rdap,
    Auto
};

// The name of a source in results and on the command line: "site1", "whois", "rdap", ...
QString sourceKindName(SourceKind kind);
