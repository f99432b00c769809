// Placing the fields of 32,767 records (60 fields each, drawn from 300 distinct names) into the
// results table: the time for all of them and the memory the filled table holds.
#include "peer.h"
#include "processmemory.h"
#include "results/pivot.h"
#include "results/resultstable.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <malloc.h>

namespace {

// Heap bytes in use, in MiB: unlike the resident size, not blurred by memory freed earlier.
double heapMiB()
{
    return double(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

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

// Records as the lookup run hands them over: UTF-8 fields, placed a record at a time. Besides
// the heap the table holds, "text_MiB" is the UTF-8 size of its cell texts and "ratio" the one
// over the other; the peer holds the same cell texts as a Python list of lists of str.
void BM_PlaceRecordsOf32767Records(benchmark::State &state)
{
    std::vector<RecordFields> input;
    input.reserve(Rows);
    for (const auto &record : records()) {
        RecordFields fields;
        for (const Field &field : record)
            fields.append(field.name.toUtf8(), field.value.toUtf8());
        input.push_back(std::move(fields));
    }
    const double before = heapMiB();
    double held = 0;
    double text = 0;
    for (auto _ : state) {
        Pivot pivot;
        pivot.reset();
        for (const RecordFields &record : input)
            pivot.place(pivot.addRow(QStringLiteral("host.example")), record);
        state.PauseTiming();
        held = heapMiB() - before;
        text = double(pivot.textBytes()) / (1024.0 * 1024.0);
        state.ResumeTiming();
    }
    state.counters["table_MiB"] = held;
    state.counters["text_MiB"] = text;
    state.counters["ratio"] = held / text;
    if (const auto peer = runPeer(QStringLiteral("list_of_lists.py"),
                                  {QString::number(Rows), QString::number(FieldsPerRow)})) {
        state.counters["peer_cpu_ms"] = peer->at(0) * 1e3;
        state.counters["peer_MiB"] = peer->at(1);
    }
}
BENCHMARK(BM_PlaceRecordsOf32767Records)->Unit(benchmark::kMillisecond)->Iterations(1);

// A million rows of 20 fields, each record made just before it is placed: the memory is the
// table's. "peak_resident_MiB" is the whole process at its peak.
void BM_PlaceMillionRows(benchmark::State &state)
{
    constexpr int MillionRows = 1000000;
    constexpr int Fields = 20;
    QList<QByteArray> names;
    for (int f = 0; f < Fields; ++f)
        names.append(QByteArray("Field Name ") + QByteArray::number(f));
    const double before = heapMiB();
    double held = 0;
    double text = 0;
    for (auto _ : state) {
        Pivot pivot;
        pivot.reset();
        for (int r = 0; r < MillionRows; ++r) {
            RecordFields fields;
            for (int f = 0; f < Fields; ++f)
                fields.append(names[f],
                              QByteArray(QByteArray("ns") + QByteArray::number(f) +
                                         ".registrar-example-" + QByteArray::number(r) + ".net"));
            pivot.place(pivot.addRow(QStringLiteral("host%1.example").arg(r)), fields);
        }
        state.PauseTiming();
        held = heapMiB() - before;
        text = double(pivot.textBytes()) / (1024.0 * 1024.0);
        state.ResumeTiming();
    }
    state.counters["table_MiB"] = held;
    state.counters["text_MiB"] = text;
    state.counters["peak_resident_MiB"] = processMemoryMiB("VmHWM:");
    if (const auto peer = runPeer(QStringLiteral("list_of_lists.py"),
                                  {QString::number(MillionRows), QString::number(Fields)})) {
        state.counters["peer_cpu_ms"] = peer->at(0) * 1e3;
        state.counters["peer_MiB"] = peer->at(1);
    }
}
BENCHMARK(BM_PlaceMillionRows)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
