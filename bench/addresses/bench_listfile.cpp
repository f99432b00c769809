#include "addresses/listfile.h"
#include "addresses/listviewmodel.h"
#include "peer.h"
#include "processmemory.h"
#include "scripteddialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <memory>

// The list-file reader's sink that appends each batch to a list model.
inline ListFile::LineSink into(ListViewModel &list)
{
    return [&list](PackedLines &&batch) { list.addItems(std::move(batch)); };
}

namespace {

QTemporaryDir *folder = nullptr;

// A file of n addresses, CR LF line ends, written once per size.
QString listFile(int lines)
{
    const QString path =
        folder->filePath(QStringLiteral("list-") + QString::number(lines) + QStringLiteral(".txt"));
    if (QFile::exists(path))
        return path;
    QByteArray bytes;
    bytes.reserve(qsizetype(lines) * 18);
    for (int i = 0; i < lines; ++i) {
        if (i % 3 == 0)
            bytes += "host" + QByteArray::number(i) + ".example.org\r\n";
        else
            bytes += "10." + QByteArray::number(i >> 16 & 255) + '.' +
                     QByteArray::number(i >> 8 & 255) + '.' + QByteArray::number(i & 255) + "\r\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void load(benchmark::State &state, bool withView)
{
    const int lines = int(state.range(0));
    const QString path = listFile(lines);
    ScriptedDialogs dialogs;
    // The longest stretch without a turn of the event loop: how long the window would freeze.
    qint64 longestGapMs = 0;
    // The most the process grew while loading, beyond the entries' own text (UTF-8).
    double peakBeyondTextMiB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto list = std::make_unique<ListViewModel>();
        list->addHeader(QStringLiteral("IP Address(es)/Domain(s)"));
        std::unique_ptr<QTreeView> view;
        if (withView) {
            // Set up as the window sets up its address list.
            view = std::make_unique<QTreeView>();
            view->setUniformRowHeights(true);
            view->setRootIsDecorated(false);
            view->setModel(list.get());
            view->resize(520, 105);
            view->show();
            QApplication::processEvents();
        }
        resetPeakMemory();
        const double before = processMemoryMiB("VmRSS:");
        QElapsedTimer sinceTick;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
        ticker.start(1);
        sinceTick.start();
        state.ResumeTiming();

        FileToListview(into(*list), path, dialogs, QStringLiteral("Quorvane"));
        if (withView)
            QApplication::processEvents(); // the view's layout of the new rows

        state.PauseTiming();
        ticker.stop();
        const double textMiB = double(list->itemTexts().byteSize()) / (1 << 20);
        peakBeyondTextMiB =
            std::max(peakBeyondTextMiB, processMemoryMiB("VmHWM:") - before - textMiB);
        if (list->itemCount() != lines)
            state.SkipWithError("wrong number of entries");
        view.reset();
        list.reset();
        state.ResumeTiming();
    }
    state.counters["longest_gap_ms"] = double(longestGapMs);
    state.counters["peak_beyond_text_MiB"] = peakBeyondTextMiB;
    state.SetItemsProcessed(state.iterations() * lines);
    state.SetBytesProcessed(state.iterations() * QFile(path).size());
}

void BM_LoadListFile(benchmark::State &state)
{
    load(state, false);
}
BENCHMARK(BM_LoadListFile)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_LoadListFileIntoView(benchmark::State &state)
{
    load(state, true);
}
BENCHMARK(BM_LoadListFileIntoView)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The Python peer on the same file: read().splitlines(), processor time.
void BM_PythonPeerSplitlines(benchmark::State &state)
{
    const QString path = listFile(int(state.range(0)));
    for (auto _ : state) {
        const auto peer = runPeer(QStringLiteral("splitlines.py"), {path});
        if (!peer || peer->size() < 2 || int(peer->at(1)) != state.range(0)) {
            state.SkipWithError("the peer did not run");
            return;
        }
        state.counters["peer_cpu_ms"] = peer->at(0) * 1e3;
    }
}
BENCHMARK(BM_PythonPeerSplitlines)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    folder = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
