// The lookup run end to end against a server in the same process on 127.0.0.1: lookups per
// second with a 30 KB page and delay 0, the run's own cost per lookup beyond the HTTP round
// trip, and the processor time a pause and a page awaited use.
#include "net/curlmulti.h"
#include "processmemory.h"
#include "results/resultstable.h"
#include "run/lookuprun.h"
#include "run/runfeed.h"
#include "testhttpserver.h"
#include "web/sitefetcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <benchmark/benchmark.h>

#include <ctime>

namespace {

constexpr int Lookups = 1000;

// A whois-style page of about 30 KB: a record of some 40 fields inside the record element,
// padded with the navigation and script a real site carries around it.
QByteArray page()
{
    QByteArray record;
    for (int i = 0; i < 40; ++i)
        record += "Field Name " + QByteArray::number(i) + ": value number " +
                  QByteArray::number(i) + " of the record<br>\n";
    QByteArray filler;
    while (filler.size() < 28000)
        filler += "<li><a href=\"/tools/whois/lookup\">Whois lookup tools and domain "
                  "research</a></li>\n";
    return "<html><head><title>Whois</title><script>var x = 1;</script></head><body><ul>" + filler +
           "</ul><div id=\"whoisRecordContainer\">" + record + "</div></body></html>";
}

TestHttpServer::Response serve(const QByteArray &)
{
    static const QByteArray body = page();
    TestHttpServer::Response r;
    r.body = body;
    return r;
}

QStringList addresses(int count = Lookups)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("host%1.example").arg(i);
    return list;
}

double processSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The bare HTTP round trips: the same pages fetched one after the other over the same
// transport, bodies thrown away, nothing else done.
double bareFetchSeconds(TestHttpServer &server)
{
    CurlMulti multi;
    CURL *easy = curl_easy_init();
    curl_easy_setopt(
        easy, CURLOPT_WRITEFUNCTION,
        +[](char *, size_t size, size_t count, void *) { return size * count; });
    QEventLoop loop;
    QObject::connect(&multi, &CurlMulti::done, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Lookups; ++i) {
        const QByteArray url =
            (server.baseUrl() + QStringLiteral("/host%1.example").arg(i)).toUtf8();
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        multi.add(easy);
        loop.exec();
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    curl_easy_cleanup(easy);
    return seconds;
}

double runSeconds(TestHttpServer &server, int *rows, int count = Lookups)
{
    qputenv("QUORVANE_SITE2_URL", (server.baseUrl() + QStringLiteral("/")).toUtf8());
    ResultsTable table;
    table.ResetResultsTable();
    RunOptions options;
    options.site = [] { return std::optional<Site>(Site::Option2); };
    options.delayText = [] { return QStringLiteral("0"); };
    LookupRun run(addresses(count), std::move(options));
    feedResultsTable(run, table);
    QEventLoop loop;
    QObject::connect(&run, &LookupRun::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    run.start();
    loop.exec();
    *rows = table.itemCount();
    return double(timer.nsecsElapsed()) / 1e9;
}

void BM_RunOf1000Lookups(benchmark::State &state)
{
    TestHttpServer server(serve);
    double bare = 0;
    double whole = 0;
    int rows = 0;
    for (auto _ : state) {
        bare = bareFetchSeconds(server);
        whole = runSeconds(server, &rows);
        state.SetIterationTime(whole);
    }
    state.counters["lookups_per_s"] = Lookups / whole;
    state.counters["http_ms_per_lookup"] = bare * 1000.0 / Lookups;
    state.counters["overhead_ms_per_lookup"] = (whole - bare) * 1000.0 / Lookups;
    state.counters["rows"] = rows;
}
BENCHMARK(BM_RunOf1000Lookups)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// A long run: every row there at the end, and memory that follows the table, not the pages.
void BM_RunOf10000Lookups(benchmark::State &state)
{
    TestHttpServer server(serve);
    int rows = 0;
    double whole = 0;
    for (auto _ : state) {
        whole = runSeconds(server, &rows, 10000);
        state.SetIterationTime(whole);
    }
    state.counters["rows"] = rows;
    state.counters["lookups_per_s"] = 10000 / whole;
    state.counters["peak_resident_MiB"] = processMemoryMiB("VmHWM:");
}
BENCHMARK(BM_RunOf10000Lookups)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ProcessorTimeDuringAFiveSecondPause(benchmark::State &state)
{
    TestHttpServer server(serve);
    qputenv("QUORVANE_SITE2_URL", (server.baseUrl() + QStringLiteral("/")).toUtf8());
    double share = 0;
    for (auto _ : state) {
        ResultsTable table;
        table.ResetResultsTable();
        RunOptions options;
        options.site = [] { return std::optional<Site>(Site::Option2); };
        options.delayText = [] { return QStringLiteral("5"); };
        LookupRun run({QStringLiteral("a.example")}, std::move(options));
        feedResultsTable(run, table);
        QEventLoop loop;
        double cpuAtPause = 0;
        QElapsedTimer wall;
        QObject::connect(&run, &LookupRun::pausing, [&] {
            cpuAtPause = processSeconds();
            wall.start();
        });
        QObject::connect(&run, &LookupRun::finished, &loop, &QEventLoop::quit);
        run.start();
        loop.exec();
        const double cpu = processSeconds() - cpuAtPause;
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        share = cpu / seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["cpu_percent_of_one_core"] = share * 100.0;
}
BENCHMARK(BM_ProcessorTimeDuringAFiveSecondPause)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A page that is slow to come: the transfer waits on its socket, not on a clock.
void BM_ProcessorTimeWhileAPageIsAwaited(benchmark::State &state)
{
    TestHttpServer server([](const QByteArray &) {
        TestHttpServer::Response response;
        response.hang = true;
        return response;
    });
    qputenv("QUORVANE_SITE2_URL", (server.baseUrl() + QStringLiteral("/")).toUtf8());
    double share = 0;
    for (auto _ : state) {
        SiteFetcher fetcher;
        fetcher.setTransferTimeout(5000);
        QEventLoop loop;
        QObject::connect(&fetcher, &SiteFetcher::finished, &loop, &QEventLoop::quit);
        const double cpuBefore = processSeconds();
        QElapsedTimer wall;
        wall.start();
        fetcher.FetchWhoisRecord(Site::Option2, QStringLiteral("a.example"));
        loop.exec();
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        share = (processSeconds() - cpuBefore) / seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["cpu_percent_of_one_core"] = share * 100.0;
}
BENCHMARK(BM_ProcessorTimeWhileAPageIsAwaited)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
