// The three exports of a full results table (32,767 rows by 50 columns, every row checked),
// each through its button handler on a window built on scripted platform doubles. Besides the
// time, each benchmark reports the longest stretch in which no window event could run
// ("gap_ms"), measured by a 1 ms timer that fires whenever events are processed.

#include "app/form1.h"
#include "memorysettingsstore.h"
#include "peer.h"
#include "platform/clipboard.h"
#include "platform/commandrunner.h"
#include "platform/desktop.h"
#include "platform/settingsstore.h"
#include "platform/spreadsheetapp.h"
#include "results/clipboardcopy.h"
#include "results/resultstable.h"
#include "scriptedclipboard.h"
#include "scriptedcommandrunner.h"
#include "scripteddesktop.h"
#include "scripteddialogs.h"
#include "scriptedspreadsheetapp.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Rows = 32767;
constexpr int Columns = 50;

struct Window
{
    ScriptedDialogs dialogs;
    MemorySettingsStore settings;
    ScriptedClipboard clipboard;
    ScriptedDesktopOpener desktop;
    ScriptedSpreadsheetApp spreadsheet;
    ScriptedCommandRunner commands;
    QTemporaryDir dir;
    std::unique_ptr<Form1> form;

    Window()
    {
        StartOptions options;
        options.programDir = dir.path();
        options.homePageAllowed = false;
        form = std::make_unique<Form1>(
            Services{dialogs, settings, clipboard, desktop, spreadsheet, commands}, options);
        ResultsTable &t = form->results();
        t.addHeader(ResultsTable::AddressCaption);
        for (int k = 2; k <= Columns; ++k)
            t.addHeader(u"Field Name %1"_s.arg(k));
        // Values of whois-record length, differing from row to row.
        for (int r = 1; r <= Rows; ++r) {
            const int row = t.AddResultRow(u"domain-%1.example.com"_s.arg(r));
            for (int k = 1; k < Columns; ++k)
                t.setSubItem(row, k, u"value %1 of record %2"_s.arg(k).arg(r * 7919 % 100003));
            t.setChecked(row, true);
        }
    }
};

Window &window()
{
    static Window w;
    return w;
}

// Tracks the longest time between two rounds of event processing.
class GapMeter
{
public:
    GapMeter()
    {
        // 1 ms rather than 0, so that waiting on a worker thread is not turned into a spin.
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_clock.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_longest = std::max(m_longest, m_clock.elapsed());
        m_timer.stop();
        return m_longest;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

void reportGap(benchmark::State &state, qint64 longest)
{
    state.counters["gap_ms"] = benchmark::Counter(double(longest), benchmark::Counter::kAvgThreads);
}

// Processor time of the whole process, all threads, in milliseconds: unlike the wall time it
// does not grow when other programs share the processors.
double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Reports the processor time per iteration, over all threads.
class CpuMeter
{
public:
    explicit CpuMeter(benchmark::State &state) : m_state(state), m_start(processCpuMs()) {}
    ~CpuMeter()
    {
        m_state.counters["all_threads_cpu_ms"] = (processCpuMs() - m_start - m_paused) /
                                                 double(std::max<int64_t>(1, m_state.iterations()));
    }
    void pause() { m_pauseStart = processCpuMs(); }
    void resume() { m_paused += processCpuMs() - m_pauseStart; }

private:
    benchmark::State &m_state;
    double m_start;
    double m_pauseStart = 0;
    double m_paused = 0;
};

void BM_TextFileExport(benchmark::State &state)
{
    Window &w = window();
    const QString path = w.dir.filePath(u"results.txt"_s);
    GapMeter gap;
    qint64 longest = 0;
    CpuMeter cpu(state);
    for (auto _ : state) {
        w.dialogs.saveAnswers = {path};
        w.dialogs.yesNoAnswers = {true};
        gap.start();
        w.form->PushButton6_Click();
        longest = std::max(longest, gap.stop());
    }
    if (!w.dialogs.messages().isEmpty())
        state.SkipWithError("the export reported a failure");
    state.counters["MB"] = double(QFile(path).size()) / 1e6;
    reportGap(state, longest);
}

void BM_ClipboardCopy(benchmark::State &state)
{
    Window &w = window();
    GapMeter gap;
    qint64 longest = 0;
    CpuMeter cpu(state);
    for (auto _ : state) {
        gap.start();
        w.form->PushButton18_Click();
        longest = std::max(longest, gap.stop());
    }
    if (w.dialogs.messages().size() != int(state.iterations()))
        state.SkipWithError("unexpected messages");
    w.dialogs.shown.clear();
    state.counters["Mchars"] = double(w.clipboard.text.size()) / 1e6;
    reportGap(state, longest);
}

void BM_WorkbookExport(benchmark::State &state)
{
    Window &w = window();
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    GapMeter gap;
    qint64 longest = 0;
    qint64 bytes = 0;
    CpuMeter cpu(state);
    for (auto _ : state) {
        gap.start();
        w.form->PushButton2_Click();
        longest = std::max(longest, gap.stop());
        state.PauseTiming();
        cpu.pause();
        for (const QString &path : std::as_const(w.spreadsheet.opened)) {
            bytes = QFile(path).size();
            QFile::remove(path);
        }
        w.spreadsheet.opened.clear();
        cpu.resume();
        state.ResumeTiming();
    }
    if (!w.dialogs.shown.isEmpty())
        state.SkipWithError("the export showed a message");
    state.counters["MB"] = double(bytes) / 1e6;
    reportGap(state, longest);
}

// The Python peer doing the same two exports of the same table by the same algorithm
// (bench/peers/table_exports.py), in processor time.
void BM_PythonPeerExports(benchmark::State &state)
{
    for (auto _ : state) {
        const auto peer = runPeer(QStringLiteral("table_exports.py"), {});
        if (!peer || peer->size() < 2) {
            state.SkipWithError("the peer did not run");
            return;
        }
        state.counters["peer_text_file_cpu_ms"] = peer->at(0) * 1e3;
        state.counters["peer_clipboard_cpu_ms"] = peer->at(1) * 1e3;
    }
}

} // namespace

BENCHMARK(BM_PythonPeerExports)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_TextFileExport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ClipboardCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_WorkbookExport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    window();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
