#include "lookup/runfeed.h"

#include "lookup/lookuprun.h"
#include "lookup/resultplacing.h"
#include "results/pivot.h"
#include "results/resultstable.h"

void feedResultsTable(LookupRun &run, ResultsTable &table)
{
    // The row the run's first lookup went to: the table may hold rows from before.
    auto first = std::make_shared<int>(-1);
    QObject::connect(&run, &LookupRun::lookupStarted, &table,
                     [&table, first](qsizetype index, const QString &address) {
                         const int row = table.AddResultRow(address);
                         if (*first < 0)
                             *first = row - int(index);
                     });
    QObject::connect(
        &run, &LookupRun::resultReady, &table,
        [&table, first](qsizetype index, const LookupResult &result) {
            const int row = *first + int(index);
            placeResult(
                result, [&](const RecordFields &fields) { return table.placeFields(row, fields); },
                [&] { table.MarkRowInvalid(row); });
        });
    QObject::connect(&run, &LookupRun::delayUnreadable, &table, [&table, first](qsizetype index) {
        table.MarkRowInvalid(*first + int(index));
    });
}

void feedPivot(LookupRun &run, Pivot &pivot)
{
    auto first = std::make_shared<qsizetype>(-1);
    QObject::connect(&run, &LookupRun::lookupStarted, &run,
                     [&pivot, first](qsizetype index, const QString &address) {
                         const qsizetype row = pivot.addRow(address);
                         if (*first < 0)
                             *first = row - index;
                     });
    QObject::connect(&run, &LookupRun::resultReady, &run,
                     [&pivot, first](qsizetype index, const LookupResult &result) {
                         const qsizetype row = *first + index;
                         placeResult(
                             result,
                             [&](const RecordFields &fields) { return pivot.place(row, fields); },
                             [&] { pivot.markInvalid(row); });
                     });
    QObject::connect(&run, &LookupRun::delayUnreadable, &run,
                     [&pivot, first](qsizetype index) { pivot.markInvalid(*first + index); });
}
