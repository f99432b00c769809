// Placing the fields of 32,767 records (60 fields each, drawn from 300 distinct names) into the
// results table: the time for all of them and the memory the filled table holds.
#include "processmemory.h"
#include "results/resultstable.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

namespace {

constexpr int Rows = 32767;
constexpr int FieldsPerRow = 60;
constexpr int DistinctNames = 300;

struct Field
{
    QString name;
    QString value;
};

// Names as records spell them (some in another case or with spaces around), values as long
// as a registrar's or a name server's.
std::vector<std::vector<Field>> records()
{
    QStringList names;
    for (int i = 0; i < DistinctNames; ++i)
        names << QStringLiteral("Field Name %1").arg(i);
    std::vector<std::vector<Field>> out(Rows);
    quint32 seed = 12345;
    for (int r = 0; r < Rows; ++r) {
        out[size_t(r)].reserve(FieldsPerRow);
        for (int f = 0; f < FieldsPerRow; ++f) {
            seed = seed * 1103515245u + 12345u;
            QString name = names[int((seed >> 8) % DistinctNames)];
            if (f % 7 == 0)
                name = QStringLiteral(" ") + name.toUpper() + QStringLiteral(" ");
            out[size_t(r)].push_back(
                {name, QStringLiteral(" ns%1.registrar-example-%2.net ").arg(f).arg(r)});
        }
    }
    return out;
}

void BM_PlaceFieldsOf32767Records(benchmark::State &state)
{
    const auto input = records();
    const double before = processMemoryMiB("VmRSS:");
    double held = 0;
    qsizetype cells = 0;
    for (auto _ : state) {
        ResultsTable table;
        table.ResetResultsTable();
        for (const auto &record : input) {
            const int row = table.AddResultRow(QStringLiteral("host.example"));
            for (const Field &field : record)
                table.PlaceField(row, field.name, field.value);
        }
        state.PauseTiming();
        held = processMemoryMiB("VmRSS:") - before;
        cells = table.pivot().filledCells();
        state.ResumeTiming();
    }
    state.counters["filled_cells"] = double(cells);
    state.counters["table_MiB"] = held;
    state.counters["peak_resident_MiB"] = processMemoryMiB("VmHWM:");
}
BENCHMARK(BM_PlaceFieldsOf32767Records)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
