// quorvane-cli end to end: its own cost per lookup beyond the HTTP round trip (the same 30 KB
// page and delay 0 as bench_run, so the figures compare with the window's run), and the peak
// memory of a long list streamed from standard input to jsonl.
#include "net/curlmulti.h"
#include "testhttpserver.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

// The page of bench_run: about 30 KB, a record of 40 fields.
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

QByteArray addressLines(int count)
{
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines += "host" + QByteArray::number(i) + ".example\n";
    return lines;
}

// Runs the tool over `count` addresses to jsonl on /dev/null; returns the wall time.
double cliSeconds(TestHttpServer &server, int count)
{
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVANE_SITE2_URL"), server.baseUrl() + QStringLiteral("/"));
    cli.setProcessEnvironment(env);
    cli.setStandardOutputFile(QStringLiteral("/dev/null"));
    QEventLoop loop;
    QObject::connect(&cli, &QProcess::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    cli.start(QStringLiteral(QUORVANE_CLI),
              {QStringLiteral("--source"), QStringLiteral("site2"), QStringLiteral("--delay"),
               QStringLiteral("0"), QStringLiteral("--format"), QStringLiteral("jsonl"),
               QStringLiteral("--quiet")});
    cli.write(addressLines(count));
    cli.closeWriteChannel();
    loop.exec();
    if (cli.exitCode() != 0)
        qFatal("quorvane-cli ended with %d: %s", cli.exitCode(),
               cli.readAllStandardError().constData());
    return double(timer.nsecsElapsed()) / 1e9;
}

// The bare HTTP round trips, as bench_run measures them.
double bareFetchSeconds(TestHttpServer &server, int count)
{
    CurlMulti multi;
    CURL *easy = curl_easy_init();
    curl_easy_setopt(
        easy, CURLOPT_WRITEFUNCTION,
        +[](char *, size_t size, size_t n, void *) { return size * n; });
    QEventLoop loop;
    QObject::connect(&multi, &CurlMulti::done, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
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

void BM_CliOf1000Lookups(benchmark::State &state)
{
    constexpr int Lookups = 1000;
    TestHttpServer server([](const QByteArray &) {
        static const QByteArray body = page();
        TestHttpServer::Response response;
        response.body = body;
        return response;
    });
    double whole = 0, startup = 0, bare = 0;
    for (auto _ : state) {
        startup = cliSeconds(server, 1);
        bare = bareFetchSeconds(server, Lookups);
        whole = cliSeconds(server, Lookups);
        state.SetIterationTime(whole);
    }
    state.counters["lookups_per_s"] = Lookups / whole;
    state.counters["start_ms"] = startup * 1000.0;
    state.counters["http_ms_per_lookup"] = bare * 1000.0 / Lookups;
    state.counters["overhead_ms_per_lookup"] = (whole - startup - bare) * 1000.0 / Lookups;
}
BENCHMARK(BM_CliOf1000Lookups)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// A long list from standard input to jsonl, against a server that answers at once with a small
// record: the tool's peak resident memory (the largest of the child processes so far).
void BM_CliLongListPeakMemory(benchmark::State &state)
{
    const int count = int(state.range(0));
    TestHttpServer server([](const QByteArray &target) {
        TestHttpServer::Response response;
        response.body = "<div id=\"whoisRecordContainer\">Domain Name: " + target.mid(1) +
                        "<br>Registrar: Example</div>";
        return response;
    });
    double whole = 0;
    for (auto _ : state) {
        whole = cliSeconds(server, count);
        state.SetIterationTime(whole);
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    state.counters["lookups_per_s"] = count / whole;
    state.counters["peak_resident_MiB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_CliLongListPeakMemory)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
