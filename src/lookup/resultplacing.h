#pragma once

#include "lookup/lookupresult.h"

// How a lookup's result shows in its row of the results table: its fields are placed, and the
// row is marked "Invalid input: " once when the lookup failed or a field could not be placed.
// A page without a record element leaves the row with its address only. `place` puts the
// fields into the row and returns false when some could not be placed; `markInvalid` marks it.
template <class Place, class MarkInvalid>
void placeResult(const LookupResult &result, Place &&place, MarkInvalid &&markInvalid)
{
    if (result.ok()) {
        if (!result.fields.isEmpty() && !place(result.fields))
            markInvalid();
    } else if (result.reason != FailureReason::NoRecord) {
        markInvalid();
    }
}
