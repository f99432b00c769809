// The answer store against its goals:
// - BM_StoringCost: 10,000 port-43 lookups of 2 KB answers, delay 0, against a local server,
//   without and with the store: the processor time of the whole process less the server's
//   thread, per lookup (the store's writer thread counted).
// - BM_Million: 1,000,000 answers written as a run writes them (batches of 300 through the
//   store's own write path): the file against the raw text; a second identical run (new
//   database stamps) and what it adds; a third run where a third of the domains changed
//   registrar and expiry; then `changes` over all of it, `expiring` within 30 days, and reuse
//   (the run's look-up of a young answer, decoded into a result) per second.
#include "records.h"
#include "run/lookuprun.h"
#include "store/sqlanswerstore.h"
#include "store/storememory.h"
#include "store/volatilelines.h"
#include "testhttpserver.h"
#include "testwhoisserver.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <pthread.h>
#include <time.h>

namespace {

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A registry answering every name with its 2 KB record, from a thread of its own whose
// processor time is kept apart.
class Registry
{
public:
    Registry()
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                pthread_getcpuclockid(pthread_self(), &m_clock);
                m_server = std::make_unique<TestWhoisServer>([](const QByteArray &name) {
                    const std::uint64_t i = name.mid(name.indexOf("-") + 1).toULongLong();
                    return TestWhoisServer::Reply{
                        BenchRecords::make(i, 0, "2026-01-01T00:00:00Z").text};
                });
                // A whois site's page of about 30 KB around the same record.
                m_site = std::make_unique<TestHttpServer>([](const QByteArray &target) {
                    const std::uint64_t i = target.mid(target.indexOf("-") + 1).toULongLong();
                    QByteArray filler;
                    while (filler.size() < 28000)
                        filler += "<li><a href=\"/tools/whois/lookup\">Whois lookup tools and "
                                  "domain research</a></li>\n";
                    TestHttpServer::Response r;
                    r.body = "<html><body><ul>" + filler +
                             "</ul><div id=\"whoisRecordContainer\">" +
                             BenchRecords::make(i, 0, "2026-01-01T00:00:00Z")
                                 .text.replace("\r\n", "<br>\n") +
                             "</div></body></html>";
                    return r;
                });
            },
            Qt::BlockingQueuedConnection);
    }
    ~Registry()
    {
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                m_server.reset();
                m_site.reset();
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    QString mapping() const { return m_server->mapping(QStringLiteral("whois.nic.tst")); }
    QString siteUrl() const { return m_site->baseUrl() + QLatin1Char('/'); }
    double cpu() const { return cpuSeconds(m_clock); }

private:
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<TestWhoisServer> m_server;
    std::unique_ptr<TestHttpServer> m_site;
    clockid_t m_clock{};
};

void BM_StoringCost(benchmark::State &state)
{
    const bool store = state.range(0) != 0;
    const bool site = state.range(1) != 0; // a web site's 30 KB page, else port 43
    constexpr int Lookups = 10000;
    QStringList list;
    for (int i = 0; i < Lookups; ++i)
        list << QStringLiteral("name-%1.tst").arg(i);
    for (auto _ : state) {
        Registry registry;
        QTemporaryDir dir;
        RunOptions options;
        options.source = [site] {
            return std::optional(site ? SourceKind::Site2 : SourceKind::Whois);
        };
        options.sites.setPrefix(Site::Option2, registry.siteUrl());
        options.delayText = [] { return QStringLiteral("0"); };
        options.connectTo = ConnectToMap::parse(registry.mapping());
        options.whoisServer = parseWhoisServer(QStringLiteral("whois.nic.tst"));
        options.followReferrals = false;
        options.cacheFolder = dir.path();
        const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - registry.cpu();
        const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        std::unique_ptr<StoreMemory> memory;
        if (store) {
            memory = std::make_unique<StoreMemory>(dir.filePath(QStringLiteral("a.sqlite")), 0);
            options.memory = memory.get();
        }
        int records = 0;
        {
            LookupRun run(list, std::move(options));
            QObject::connect(&run, &LookupRun::resultReady, &run,
                             [&](qsizetype, const LookupResult &r) { records += r.ok(); });
            QSignalSpy done(&run, &LookupRun::finished);
            run.start();
            done.wait(600000);
        }
        const double runThread = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0;
        if (memory)
            memory->finish(); // every answer written
        const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - registry.cpu() - cpu0;
        state.counters["cpu_us_per_lookup"] = cpu * 1e6 / Lookups;
        state.counters["run_thread_us_per_lookup"] = runThread * 1e6 / Lookups;
        state.counters["records"] = records;
    }
}

std::vector<PendingAnswer> batchOf(std::uint64_t from, std::uint64_t count, int change,
                                   const QByteArray &stamp, qint64 at, qint64 &raw)
{
    std::vector<PendingAnswer> batch;
    batch.reserve(count);
    for (std::uint64_t i = from; i < from + count; ++i) {
        BenchRecords::Record record = BenchRecords::make(i, change, stamp);
        LookupResult result;
        result.address = BenchRecords::address(i);
        result.source = SourceKind::Whois;
        result.servers = {QStringLiteral("whois.nic.t%1").arg(i % 5)};
        result.recordText = record.text;
        result.facts = record.facts;
        result.askedAtMs = at;
        raw += record.text.size();
        batch.push_back(PendingAnswer{result, result.address, answerDigest(result)});
    }
    return batch;
}

qint64 storeBytes(const QString &path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

void BM_Million(benchmark::State &state)
{
    const auto answers = std::uint64_t(state.range(0));
    constexpr std::uint64_t Batch = 300;
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("answers.sqlite"));
        const qint64 day = 24 * 3600 * 1000;
        const qint64 start = QDateTime::currentMSecsSinceEpoch() - 3 * day;
        qint64 raw = 0;
        double writeSeconds[3] = {};
        qint64 sizes[3] = {};
        for (int run = 0; run < 3; ++run) {
            auto store = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite);
            const QByteArray stamp = "2026-01-0" + QByteArray::number(run + 1) + "T00:00:00Z";
            qint64 runRaw = 0;
            double seconds = 0;
            for (std::uint64_t from = 0; from < answers; from += Batch) {
                const std::vector<PendingAnswer> batch =
                    batchOf(from, std::min(Batch, answers - from), run == 2 ? 1 : 0, stamp,
                            start + run * day, runRaw);
                const double t0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
                if (!store->write(batch)) {
                    state.SkipWithError(qPrintable(store->problem().message));
                    return;
                }
                seconds += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - t0;
            }
            if (run == 0)
                raw = runRaw;
            store.reset(); // checkpointed on close
            writeSeconds[run] = seconds;
            sizes[run] = storeBytes(path);
        }
        state.counters["raw_MB"] = double(raw) / 1e6;
        state.counters["store_MB"] = double(sizes[0]) / 1e6;
        state.counters["store_to_raw"] = double(sizes[0]) / double(raw);
        state.counters["identical_run_growth_pct"] =
            100.0 * double(sizes[1] - sizes[0]) / double(sizes[0]);
        state.counters["write_us_per_answer"] = writeSeconds[0] * 1e6 / double(answers);
        state.counters["identical_write_us_per_answer"] = writeSeconds[1] * 1e6 / double(answers);

        auto store = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadOnly);
        QElapsedTimer clock;
        clock.start();
        qint64 changes = 0;
        store->changes(0, {}, [&](const ChangeRow &) { ++changes; });
        state.counters["changes_s"] = double(clock.nsecsElapsed()) / 1e9;
        state.counters["changes_rows"] = double(changes);

        clock.restart();
        qint64 expiring = 0;
        const QString until = QDateTime::currentDateTimeUtc().addDays(30).toString(Qt::ISODate);
        store->expiring(until, {}, [&](const ExpiringRow &) { ++expiring; });
        state.counters["expiring_ms"] = double(clock.nsecsElapsed()) / 1e6;
        state.counters["expiring_rows"] = double(expiring);
        store.reset();

        // Reuse: the run's question for each address, as it asks it.
        StoreMemory memory(path, 30 * day);
        const std::uint64_t asked = std::min<std::uint64_t>(answers, 200000);
        clock.restart();
        qint64 reused = 0;
        for (std::uint64_t i = 0; i < asked; ++i)
            reused +=
                memory.reusable(BenchRecords::address(i * (answers / asked)), SourceKind::Whois)
                    .has_value();
        state.counters["reuse_per_s"] = double(asked) / (double(clock.nsecsElapsed()) / 1e9);
        state.counters["reused"] = double(reused);

        // The same through a run, rows given in list order as the window and the tool get them.
        QStringList list;
        for (std::uint64_t i = 0; i < asked; ++i)
            list << BenchRecords::address(i);
        RunOptions options;
        options.source = [] { return std::optional(SourceKind::Whois); };
        options.delayText = [] { return QStringLiteral("0"); };
        options.memory = &memory;
        LookupRun run(list, std::move(options));
        qint64 rows = 0;
        QObject::connect(&run, &LookupRun::resultReady, &run,
                         [&](qsizetype, const LookupResult &r) { rows += r.fromStore; });
        QSignalSpy done(&run, &LookupRun::finished);
        clock.restart();
        run.start();
        done.wait(600000);
        state.counters["run_reuse_per_s"] = double(asked) / (double(clock.nsecsElapsed()) / 1e9);
        state.counters["run_rows_from_store"] = double(rows);
        state.SetIterationTime(1);
    }
}

} // namespace

// The digest that tells a repeated answer, on the 2 KB records: every stored answer pays it.
void BM_AnswerDigest(benchmark::State &state)
{
    std::vector<QByteArray> texts;
    for (std::uint64_t i = 0; i < 64; ++i)
        texts.push_back(BenchRecords::make(i, 0, "2026-01-01T00:00:00Z").text);
    std::size_t i = 0;
    std::int64_t sum = 0;
    for (auto _ : state)
        sum += VolatileLines::digest(texts[i++ % texts.size()], "1");
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(state.iterations() * texts.front().size());
}

BENCHMARK(BM_AnswerDigest);
BENCHMARK(BM_StoringCost)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
// Reuse alone on a store of `range(0)` answers: the run's question for every address in turn.
void BM_Reuse(benchmark::State &state)
{
    const auto answers = std::uint64_t(state.range(0));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("answers.sqlite"));
    {
        auto store = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite);
        qint64 raw = 0;
        for (std::uint64_t from = 0; from < answers; from += 300)
            store->write(batchOf(from, std::min<std::uint64_t>(300, answers - from), 0, "x",
                                 QDateTime::currentMSecsSinceEpoch() - 1000, raw));
    }
    QStringList list;
    for (std::uint64_t i = 0; i < answers; ++i)
        list << BenchRecords::address(i);
    for (auto _ : state) {
        StoreMemory memory(path, 3600 * 1000);
        const double cpu0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        qint64 reused = 0;
        if (state.range(1) == 2) {
            // Through a run, rows given in list order as the window and the tool get them.
            RunOptions options;
            options.source = [] { return std::optional(SourceKind::Whois); };
            options.delayText = [] { return QStringLiteral("0"); };
            options.memory = &memory;
            LookupRun run(list, std::move(options));
            QObject::connect(&run, &LookupRun::resultReady, &run,
                             [&](qsizetype, const LookupResult &r) { reused += r.fromStore; });
            QSignalSpy done(&run, &LookupRun::finished);
            run.start();
            done.wait(600000);
        } else if (state.range(1) == 0) {
            for (const QString &address : list)
                reused += memory.reusable(address, SourceKind::Whois).has_value();
        } else {
            for (qsizetype from = 0; from < list.size(); from += 10000) {
                const QStringList batch = list.mid(from, 10000);
                memory.expect(batch, SourceKind::Whois);
                for (const QString &address : batch)
                    reused += memory.reusable(address, SourceKind::Whois).has_value();
            }
        }
        const double cpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        state.counters["reused"] = double(reused);
        state.counters["per_s_cpu"] = double(answers) / cpu;
    }
}

BENCHMARK(BM_Reuse)->ArgsProduct({{100000}, {0, 1, 2}})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Million)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
