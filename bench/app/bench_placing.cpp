// Records with thousands of new field names placed into the window's results table while its
// view shows them: the time from the result to the view having taken the row, and the same for
// a whole 8 MiB page of 200,000 names (read, cut into fields, placed and shown).
#include "app/form1.h"
#include "formfixture.h"
#include "lookup/recordlines.h"
#include "results/resultstable.h"
#include "web/pagetext.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

// The window on scripted platform doubles, shown, with an empty results table.
struct Window : FormFixture
{
    Window()
    {
        load();
        form->show();
        form->results().ResetResultsTable();
        QCoreApplication::processEvents();
    }
};

RecordFields newNames(int count, int offset)
{
    RecordFields fields;
    for (int i = 0; i < count; ++i)
        fields.append({u"Field name %1"_s.arg(offset + i), u"value %1"_s.arg(i)});
    return fields;
}

void BM_ThreeThousandNewNamesShown(benchmark::State &state)
{
    Window window;
    ResultsTable &table = window.form->results();
    int offset = 0;
    for (auto _ : state) {
        const int row = table.AddResultRow(u"wide.example"_s);
        const RecordFields fields = newNames(3000, offset);
        offset += 3000;
        QElapsedTimer clock;
        clock.start();
        table.placeFields(row, fields);
        QCoreApplication::processEvents(); // the view lays out and paints the row
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        state.PauseTiming();
        table.ResetResultsTable();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ThreeThousandNewNamesShown)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

void BM_TwoHundredThousandNamePage(benchmark::State &state)
{
    Window window;
    ResultsTable &table = window.form->results();
    QByteArray page = "<html><body><div id=\"whoisRecordContainer\">";
    for (int i = 0; i < 200000; ++i)
        page += "Field name number " + QByteArray::number(i) + ": some value of the record<br>";
    page += "</div></body></html>";
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const std::optional<QByteArray> record =
            TryRecordTextUtf8(DecodePageUtf8(page, "text/html; charset=utf-8"), Site::Option2);
        const RecordFields fields = RecordFieldsOf(record.value_or(QByteArray()));
        const int row = table.AddResultRow(u"huge.example"_s);
        if (!table.placeFields(row, fields))
            table.MarkRowInvalid(row);
        QCoreApplication::processEvents();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        state.counters["columns"] = table.headerCount();
        state.counters["page_MiB"] = double(page.size()) / (1 << 20);
        state.PauseTiming();
        table.ResetResultsTable();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TwoHundredThousandNamePage)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
