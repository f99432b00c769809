#pragma once

#include "lookup/lookupresult.h"

// The summary column that says why a lookup got no answer (empty when it got one).
inline const QString ErrorCaption = QStringLiteral("Error");

// The summary column after the others: what changed since the address's previous stored answer
// from the same source ("registrar, expires").
inline const QString ChangedCaption = QStringLiteral("Changed");

// The summary columns' captions in order: the facts' (factColumns()), "Error" right after
// "Status", "Changed" last.
QStringList summaryCaptions();

// Whether the result's row carries the summary columns: port-43 WHOIS and RDAP results do
// (the auto source's are one or the other); the web sites' rows hold their record alone.
bool hasSummaryColumns(const LookupResult &result);

// The fields a result puts into its row. For a port-43 or RDAP result: one field per summary
// caption (summaryCaptions(), in order, empty where the fact is unknown, so every caption gets
// its column right after the address column the first time), then the record's fields when the
// lookup succeeded, a record name equal to a summary caption (ignoring case and end spaces)
// renamed "<name> (record)". For a site's result: its record's fields as they are.
RecordFields rowFields(const LookupResult &result);

// A record field's name as a column caption beside the summary: the summary captions are kept
// for the summary.
QString recordCaption(const QString &name);

// How a lookup's result shows in its row of the results table: its fields (rowFields) are
// placed, and the row is marked "Invalid input: " once when the lookup failed or a field could
// not be placed. A page without a record element leaves the row with its address only. `place`
// puts the fields into the row and returns false when some could not be placed; `markInvalid`
// marks it. Every table a run fills (the window's, the Pivot the exports write) places with it.
template <class Place, class MarkInvalid>
void placeResult(const LookupResult &result, Place &&place, MarkInvalid &&markInvalid)
{
    if (hasSummaryColumns(result)) {
        // A failed row still shows why in its Status column.
        const bool complete = place(rowFields(result));
        if (!result.ok() || !complete)
            markInvalid();
    } else if (result.ok()) {
        if (!result.fields.isEmpty() && !place(result.fields))
            markInvalid();
    } else if (result.reason != FailureReason::NoRecord) {
        markInvalid();
    }
}
