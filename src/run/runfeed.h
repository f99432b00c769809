#pragma once

class LookupRun;
class Pivot;
class ResultsTable;

// Connects a run to the table its results go to: each lookup adds its row (the address) when
// it starts, and its result is placed there when it ends (see placeResult). Rows follow the
// address list: lookup i is row i of the rows the run adds.
void feedResultsTable(LookupRun &run, ResultsTable &table);
void feedPivot(LookupRun &run, Pivot &pivot);
