// The window's settings with a million-entry address list, through the real settings file
// (IniSettingsStore under a temporary XDG_CONFIG_HOME) and the window's handlers:
// - loading a million-line list file, and the list's write that follows;
// - "Load Sample/Example Addresses" on that list, and its write;
// - one keystroke in the delay box, and the end of that edit (Enter);
// - closing the window;
// - the next start, until the window shows the list.
// The list's write runs from its save timer once a burst of changes has ended; the
// benchmarks run that write at once rather than wait out the quiet period, and count it in.

#include "addresses/listviewmodel.h"
#include "app/form1.h"
#include "platform/clipboard.h"
#include "platform/commandrunner.h"
#include "platform/desktop.h"
#include "platform/settingsstore.h"
#include "platform/spreadsheetapp.h"
#include "scriptedclipboard.h"
#include "scriptedcommandrunner.h"
#include "scripteddesktop.h"
#include "scripteddialogs.h"
#include "scriptedspreadsheetapp.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int Entries = 1000000;

QTemporaryDir *folder = nullptr;

QString listFile()
{
    const QString path = folder->filePath(u"list.txt"_s);
    if (QFile::exists(path))
        return path;
    QByteArray bytes;
    bytes.reserve(qsizetype(Entries) * 20);
    for (int i = 0; i < Entries; ++i) {
        if (i % 3 == 0)
            bytes += "host" + QByteArray::number(i) + ".example.org\n";
        else
            bytes += "10." + QByteArray::number(i >> 16 & 255) + '.' +
                     QByteArray::number(i >> 8 & 255) + '.' + QByteArray::number(i & 255) + '\n';
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

struct Window
{
    ScriptedDialogs dialogs;
    IniSettingsStore settings;
    ScriptedClipboard clipboard;
    ScriptedDesktopOpener desktop;
    ScriptedSpreadsheetApp spreadsheet;
    ScriptedCommandRunner commands;
    std::unique_ptr<Form1> form;

    Window()
    {
        commands.output = u"64 bytes from 127.0.0.1: icmp_seq=1 ttl=64"_s;
        StartOptions options;
        options.programDir = folder->path();
        options.homePageAllowed = false;
        form = std::make_unique<Form1>(
            Services{dialogs, settings, clipboard, desktop, spreadsheet, commands}, options);
        form->Form_Load();
    }

    QTimer *saveTimer() const { return form->findChild<QTimer *>(u"SaveTimer"_s); }

    // Runs the pending write of the list now; its time in milliseconds.
    double writePendingList()
    {
        QElapsedTimer clock;
        clock.start();
        if (saveTimer()->isActive()) {
            saveTimer()->stop();
            form->SaveTimer_Timer();
        }
        return clock.nsecsElapsed() / 1e6;
    }

    void loadList()
    {
        dialogs.openAnswers.append({listFile()});
        form->PushButton3_Click();
    }
};

// The window whose list the benchmarks share.
Window &window()
{
    static Window w;
    return w;
}

void check(benchmark::State &state, const Window &w)
{
    if (!w.dialogs.messages().isEmpty())
        state.SkipWithError(qPrintable(u"the window reported: "_s + w.dialogs.messages().last()));
}

void BM_LoadListFile(benchmark::State &state)
{
    Window &w = window();
    double handler = 0;
    double write = 0;
    for (auto _ : state) {
        w.form->PushButton11_Click();
        w.writePendingList();
        QElapsedTimer clock;
        clock.start();
        w.loadList();
        const double h = clock.nsecsElapsed() / 1e6;
        const double wr = w.writePendingList();
        handler += h;
        write += wr;
        state.SetIterationTime((h + wr) / 1e3);
    }
    if (w.form->addressList().itemCount() != Entries)
        state.SkipWithError("the list was not loaded");
    check(state, w);
    state.counters["handler_ms"] = handler / double(state.iterations());
    state.counters["write_ms"] = write / double(state.iterations());
    state.counters["file_MB"] = double(QFile(IniSettingsStore::filePath()).size()) / 1e6;
}

void BM_SampleAddresses(benchmark::State &state)
{
    Window &w = window();
    if (w.form->addressList().itemCount() != Entries)
        w.loadList();
    double handler = 0;
    double write = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        w.form->PushButton1_Click();
        const double h = clock.nsecsElapsed() / 1e6;
        const double wr = w.writePendingList();
        handler += h;
        write += wr;
        state.SetIterationTime((h + wr) / 1e3);
        state.PauseTiming();
        for (int i = 0; i < 3; ++i)
            w.form->addressList().removeItem(w.form->addressList().itemCount());
        state.ResumeTiming();
    }
    check(state, w);
    state.counters["handler_ms"] = handler / double(state.iterations());
    state.counters["write_ms"] = write / double(state.iterations());
}

void BM_DelayKeystroke(benchmark::State &state)
{
    Window &w = window();
    auto *text1 = w.form->findChild<QLineEdit *>(u"Text1"_s);
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(text1, Qt::Key_1);
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        state.PauseTiming();
        if (text1->text().size() > 8)
            text1->setText(u"7"_s);
        state.ResumeTiming();
    }
    check(state, w);
}

void BM_DelayEditEnds(benchmark::State &state)
{
    Window &w = window();
    auto *text1 = w.form->findChild<QLineEdit *>(u"Text1"_s);
    for (auto _ : state) {
        state.PauseTiming();
        text1->setText(u"7"_s);
        QTest::keyClick(text1, Qt::Key_5);
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(text1, Qt::Key_Return);
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
    }
    check(state, w);
}

void BM_Close(benchmark::State &state)
{
    Window &w = window();
    auto *text1 = w.form->findChild<QLineEdit *>(u"Text1"_s);
    for (auto _ : state) {
        state.PauseTiming();
        // A change of the list and an edit of the delay still waiting to be written.
        w.form->PushButton1_Click();
        QTest::keyClick(text1, Qt::Key_2);
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        w.form->close();
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        state.PauseTiming();
        for (int i = 0; i < 3; ++i)
            w.form->addressList().removeItem(w.form->addressList().itemCount());
        text1->setText(u"7"_s);
        state.ResumeTiming();
    }
    check(state, w);
}

void BM_NextStart(benchmark::State &state)
{
    window().form->close();
    const QString path = IniSettingsStore::filePath();
    for (auto _ : state) {
        state.PauseTiming();
        {
            // A new modification time, so the file is read and parsed as a new process would.
            QFile file(path);
            if (!file.open(QIODevice::ReadWrite))
                state.SkipWithError("no settings file");
            file.setFileTime(QDateTime::currentDateTime().addSecs(state.iterations()),
                             QFileDevice::FileModificationTime);
        }
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        auto next = std::make_unique<Window>();
        next->form->show();
        QCoreApplication::processEvents();
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        if (next->form->addressList().itemCount() != Entries)
            state.SkipWithError("the list did not come back");
        check(state, *next);
        state.PauseTiming();
        next.reset();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_LoadListFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_SampleAddresses)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_DelayKeystroke)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(200);
BENCHMARK(BM_DelayEditEnds)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_Close)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_NextStart)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    folder = &dir;
    // Read once per process by the settings store: set before anything reads it.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(u"config"_s)));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
