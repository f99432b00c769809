#include "run/runfeed.h"

#include "results/pivot.h"
#include "results/resultstable.h"
#include "run/lookuprun.h"
#include "run/resultplacing.h"

#include <functional>
#include <memory>

namespace {

// What a run does to a table, in the table's own row numbering.
struct RowTarget
{
    std::function<qsizetype(const QString &address)> addRow; // returns the new row
    std::function<bool(qsizetype row, const RecordFields &fields)> place;
    std::function<void(qsizetype row)> markInvalid;
};

void feed(LookupRun &run, QObject *context, const RowTarget &target)
{
    // The row the run's first lookup went to: the table may hold rows from before.
    auto first = std::make_shared<qsizetype>(-1);
    QObject::connect(&run, &LookupRun::lookupStarted, context,
                     [target, first](qsizetype index, const QString &address) {
                         const qsizetype row = target.addRow(address);
                         if (*first < 0)
                             *first = row - index;
                     });
    QObject::connect(&run, &LookupRun::resultReady, context,
                     [target, first](qsizetype index, const LookupResult &result) {
                         const qsizetype row = *first + index;
                         placeResult(
                             result,
                             [&](const RecordFields &fields) { return target.place(row, fields); },
                             [&] { target.markInvalid(row); });
                     });
    QObject::connect(&run, &LookupRun::delayUnreadable, context,
                     [target, first](qsizetype index) { target.markInvalid(*first + index); });
}

} // namespace

void feedResultsTable(LookupRun &run, ResultsTable &table)
{
    feed(run, &table,
         {[&table](const QString &address) { return qsizetype(table.AddResultRow(address)); },
          [&table](qsizetype row, const RecordFields &fields) {
              return table.placeFields(int(row), fields);
          },
          [&table](qsizetype row) { table.MarkRowInvalid(int(row)); }});
}

void feedPivot(LookupRun &run, Pivot &pivot)
{
    feed(run, &run,
         {[&pivot](const QString &address) { return pivot.addRow(address); },
          [&pivot](qsizetype row, const RecordFields &fields) { return pivot.place(row, fields); },
          [&pivot](qsizetype row) { pivot.markInvalid(row); }});
}
