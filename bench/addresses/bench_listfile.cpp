#include "addresses/listfile.h"
#include "addresses/listviewmodel.h"
#include "formfixture.h"
#include "peer.h"
#include "processmemory.h"
#include "scripteddialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

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

// Loads the file into a list of its own, or into the window's address list through its Load
// button, the window shown.
void load(benchmark::State &state, bool inWindow)
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
        std::unique_ptr<ListViewModel> own;
        std::unique_ptr<FormFixture> window;
        ListViewModel *list = nullptr;
        if (inWindow) {
            window = std::make_unique<FormFixture>();
            Form1 &form = window->load();
            form.show();
            window->dialogs.openAnswers.append({path});
            list = &form.addressList();
        } else {
            own = std::make_unique<ListViewModel>();
            own->addHeader(QStringLiteral("IP Address(es)/Domain(s)"));
            list = own.get();
        }
        // The window's list usually holds something already (at first, its sample entries).
        list->addItem(QStringLiteral("www.debian.org"));
        const int existing = list->itemCount();
        QApplication::processEvents();
        resetPeakMemory();
        const double before = processMemoryMiB("VmRSS:");
        QElapsedTimer sinceTick;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
        ticker.start(1);
        sinceTick.start();
        state.ResumeTiming();

        if (inWindow) {
            window->form->PushButton3_Click();
            QApplication::processEvents(); // the view's layout of the last rows
        } else {
            FileToListview(into(*list), path, dialogs, QStringLiteral("Quorvane"));
        }

        state.PauseTiming();
        ticker.stop();
        const double textMiB = double(list->itemTexts().byteSize()) / (1 << 20);
        peakBeyondTextMiB =
            std::max(peakBeyondTextMiB, processMemoryMiB("VmHWM:") - before - textMiB);
        if (list->itemCount() != existing + lines)
            state.SkipWithError("wrong number of entries");
        window.reset();
        own.reset();
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

void BM_LoadListFileIntoWindow(benchmark::State &state)
{
    load(state, true);
}
BENCHMARK(BM_LoadListFileIntoWindow)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

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
