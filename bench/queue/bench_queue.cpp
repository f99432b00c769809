// The work queue against its goals, with a real PostgreSQL cluster: run it under pg_virtualenv
// (postgresql-common), which starts a throw-away cluster and sets PGHOST, PGPORT, PGUSER,
// PGPASSWORD and PGDATABASE:
//     pg_virtualenv build/bench/queue/bench_queue
// - BM_Scale: port-43 servers that allow each client one query a second (the workers' delay of
//   1 s is the bound), 30 names each; one worker, three workers in three pace groups (three
//   public addresses: three times the allowance), and three in one group (one address: no
//   faster than one worker). Wall time from the first worker's start to the last one's end.
// - BM_Overhead: 5,000 lookups at delay 0 against servers answering at once, kept in the same
//   PostgreSQL store, by the plain lookup and by one queue worker: the processor time of the
//   quorvane-cli process per lookup, and the difference (the queue's own cost: claims, leases,
//   the items marked done). The database server's own time is not counted in either.
// - BM_QueueCost: the queue's own statements alone, in this process, as a worker runs them for
//   10,000 answers: claims of 100, each answer's item marked in the writer's transactions of
//   300, the worker's counts; against the same answers written without a queue. The difference
//   per answer is the queue's processor time (this side of the connection).
#include "facts/recordfacts.h"
#include "store/sqlanswerstore.h"
#include "store/storedanswer.h"
#include "store/workqueue.h"
#include "testwhoisserver.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <ctime>

#include <memory>
#include <vector>

namespace {

QString storeUrl(const QString &database)
{
    return QStringLiteral("postgresql://%1@%2:%3/%4")
        .arg(qEnvironmentVariable("PGUSER"), qEnvironmentVariable("PGHOST"),
             qEnvironmentVariable("PGPORT"), database);
}

// A new empty database; its store URL.
QString freshStore()
{
    static int made = 0;
    const QString name =
        QStringLiteral("bench_%1_%2").arg(QCoreApplication::applicationPid()).arg(++made);
    QProcess psql;
    psql.start(QStringLiteral("psql"), {QStringLiteral("-qAt"), QStringLiteral("-c"),
                                        QStringLiteral("CREATE DATABASE ") + name});
    if (!psql.waitForFinished() || psql.exitCode() != 0)
        qFatal("cannot make a database: %s", psql.readAllStandardError().constData());
    return storeUrl(name);
}

// IANA and `registries` registries (whois.nic.tN for the TLD tN) on a thread of their own.
class World
{
public:
    explicit World(int registries)
    {
        m_thread.start();
        QObject starter;
        starter.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &starter,
            [&] {
                m_home = new QObject;
                auto *iana = new TestWhoisServer([](const QByteArray &tld) {
                    return TestWhoisServer::Reply{"domain: " + tld + "\nrefer: whois.nic." + tld +
                                                  "\n"};
                });
                iana->setParent(m_home);
                m_entries << iana->mapping(QStringLiteral("whois.iana.org"));
                for (int i = 0; i < registries; ++i) {
                    auto *registry = new TestWhoisServer([this](const QByteArray &name) {
                        return TestWhoisServer::Reply{
                            "Domain Name: " + name +
                            "\r\nRegistrar: Bench Registrar\r\nRegistry Expiry Date: "
                            "2030-01-01T00:00:00Z\r\nName Server: ns1.example\r\n"
                            "Serial: " +
                            QByteArray::number(m_serial.fetchAndAddRelaxed(1)) + "\r\n"};
                    });
                    registry->setParent(m_home);
                    m_entries << registry->mapping(QStringLiteral("whois.nic.t%1").arg(i));
                }
            },
            Qt::BlockingQueuedConnection);
    }
    ~World()
    {
        QMetaObject::invokeMethod(
            m_home, [&] { delete m_home; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    QString connectTo() const { return m_entries.join(QLatin1Char(',')); }

private:
    QThread m_thread;
    QObject *m_home = nullptr;
    QStringList m_entries;
    QAtomicInteger<int> m_serial = 0;
};

QByteArray names(int count, int registries, int from = 0)
{
    QByteArray out;
    for (int i = from; i < from + count; ++i)
        out += "n" + QByteArray::number(i) + ".t" + QByteArray::number(i % registries) + "\n";
    return out;
}

// A quorvane-cli process with a cache folder of its own, its IANA answers fetched beforehand
// so the measured runs ask IANA nothing.
class Cli
{
public:
    Cli(const World &world, int registries)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUORVANE_CONNECT_TO"), world.connectTo());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        m_process.setProcessEnvironment(env);
        m_process.setProgram(QStringLiteral(QUORVANE_CLI));
        m_process.setStandardOutputFile(QProcess::nullDevice());
        QByteArray oneEach;
        for (int i = 0; i < registries; ++i)
            oneEach += "warm.t" + QByteArray::number(i) + "\n";
        run({QStringLiteral("--source"), QStringLiteral("whois"), QStringLiteral("--no-referrals"),
             QStringLiteral("-d"), QStringLiteral("0"), QStringLiteral("--no-store")},
            oneEach);
    }
    void start(const QStringList &arguments, const QByteArray &input = {})
    {
        m_process.setArguments(arguments);
        m_process.start();
        m_process.write(input);
        m_process.closeWriteChannel();
    }
    void finish()
    {
        m_process.waitForFinished(-1);
        if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
            qFatal("quorvane-cli %s ended with %d: %s", qPrintable(m_process.arguments().value(0)),
                   m_process.exitCode(), m_process.readAllStandardError().constData());
    }
    void run(const QStringList &arguments, const QByteArray &input = {})
    {
        start(arguments, input);
        finish();
    }

private:
    QTemporaryDir m_home;
    QProcess m_process;
};

QStringList workArguments(const QString &url, const QStringList &extra)
{
    return QStringList{QStringLiteral("work"),
                       QStringLiteral("--store"),
                       url,
                       QStringLiteral("--queue"),
                       QStringLiteral("q"),
                       QStringLiteral("--source"),
                       QStringLiteral("whois"),
                       QStringLiteral("--no-referrals"),
                       QStringLiteral("--quiet")} +
           extra;
}

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

constexpr int ScaleServers = 10;
constexpr int ScalePerServer = 30;

// Argument: 0 one worker, 1 three workers in three pace groups, 2 three in one group.
void BM_Scale(benchmark::State &state)
{
    const int layout = int(state.range(0));
    const int workers = layout == 0 ? 1 : 3;
    World world(ScaleServers);
    for (auto _ : state) {
        const QString url = freshStore();
        std::vector<std::unique_ptr<Cli>> clis;
        for (int i = 0; i < workers; ++i)
            clis.push_back(std::make_unique<Cli>(world, ScaleServers));
        clis.front()->run({QStringLiteral("enqueue"), QStringLiteral("--store"), url,
                           QStringLiteral("--queue"), QStringLiteral("q"), QStringLiteral("-q")},
                          names(ScaleServers * ScalePerServer, ScaleServers));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < workers; ++i) {
            // Each worker holds about two rounds of the servers' addresses.
            QStringList arguments{QStringLiteral("-d"),      QStringLiteral("1"),
                                  QStringLiteral("--batch"), QString::number(2 * ScaleServers),
                                  QStringLiteral("-p"),      QString::number(ScaleServers)};
            if (layout == 1)
                arguments << QStringLiteral("--pace-group") << QStringLiteral("address-%1").arg(i);
            else if (layout == 2)
                arguments << QStringLiteral("--pace-group") << QStringLiteral("one-address");
            clis[size_t(i)]->start(workArguments(url, arguments));
        }
        for (const std::unique_ptr<Cli> &cli : clis)
            cli->finish();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
    state.counters["lookups/s"] =
        benchmark::Counter(double(ScaleServers * ScalePerServer) * double(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Scale)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Iterations(1)->Unit(
    benchmark::kSecond);

constexpr int OverheadServers = 20;
constexpr int OverheadLookups = 5000;

// Argument: 0 the plain lookup into the store, 1 a queue worker.
void BM_Overhead(benchmark::State &state)
{
    const bool queued = state.range(0) == 1;
    World world(OverheadServers);
    for (auto _ : state) {
        const QString url = freshStore();
        Cli cli(world, OverheadServers);
        const QByteArray list = names(OverheadLookups, OverheadServers);
        if (queued)
            cli.run({QStringLiteral("enqueue"), QStringLiteral("--store"), url,
                     QStringLiteral("--queue"), QStringLiteral("q"), QStringLiteral("-q")},
                    list);
        const double before = childCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        if (queued)
            cli.run(workArguments(url, {QStringLiteral("-d"), QStringLiteral("0")}));
        else
            cli.run({QStringLiteral("--source"), QStringLiteral("whois"),
                     QStringLiteral("--no-referrals"), QStringLiteral("-d"), QStringLiteral("0"),
                     QStringLiteral("--store"), url, QStringLiteral("--quiet"),
                     QStringLiteral("-f"), QStringLiteral("jsonl")},
                    list);
        const double cpu = childCpuSeconds() - before;
        state.SetIterationTime(cpu);
        state.counters["cpu_ms_per_lookup"] = cpu * 1000 / OverheadLookups;
        state.counters["wall_s"] = double(clock.nsecsElapsed()) / 1e9;
    }
}
BENCHMARK(BM_Overhead)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A port-43 answer of about 2 KB, as a registry gives it.
LookupResult benchAnswer(const QString &address, int serial)
{
    LookupResult result;
    result.address = address;
    result.source = SourceKind::Whois;
    result.servers = {QStringLiteral("whois.nic.t0")};
    QByteArray record = "Domain Name: " + address.toUtf8() +
                        "\r\nRegistrar: Bench Registrar\r\nRegistry Expiry Date: "
                        "2030-01-01T00:00:00Z\r\nSerial: " +
                        QByteArray::number(serial) + "\r\n";
    while (record.size() < 2000)
        record += "Notice: the data in this record is provided for information only.\r\n";
    result.recordText = record;
    result.facts.status = RecordStatus::Registered;
    result.facts.registrar = QStringLiteral("Bench Registrar");
    result.askedAtMs = 1800000000000 + serial;
    return result;
}

constexpr int CostAnswers = 10000;

// Argument: 0 the answers alone, 1 with the queue.
void BM_QueueCost(benchmark::State &state)
{
    const bool queued = state.range(0) == 1;
    for (auto _ : state) {
        const QString url = freshStore();
        const StoreLocation location = *StoreLocation::parse(url, nullptr);
        QStringList addresses;
        for (int i = 0; i < CostAnswers; ++i)
            addresses << QStringLiteral("n%1.t%2").arg(i).arg(i % 20);
        std::unique_ptr<SqlAnswerStore> writer =
            SqlAnswerStore::open(location, SqlAnswerStore::Access::ReadWrite);
        std::unique_ptr<WorkQueue> queue = WorkQueue::open(location, QStringLiteral("q"));
        if (queued)
            queue->enqueue(addresses);
        const double before = processCpuSeconds();
        const qint64 worker =
            queued ? *queue->registerWorker(QStringLiteral("bench"), 1, {}, 60000) : 0;
        std::vector<PendingAnswer> batch;
        const auto write = [&] {
            if (!writer->write(batch))
                qFatal("%s", qPrintable(writer->problem().message));
            batch.clear();
        };
        int serial = 0;
        double claimCpu = 0;
        for (int from = 0; from < CostAnswers; from += 100) {
            QList<WorkQueue::Item> items;
            if (queued) {
                const double claimStart = processCpuSeconds();
                items = *queue->claim(worker, 100);
                claimCpu += processCpuSeconds() - claimStart;
                if (from % 1000 == 0)
                    queue->heartbeat(worker, 60000, 1.0);
            } else {
                for (int i = from; i < from + 100; ++i)
                    items.append({0, addresses[i]});
            }
            for (const WorkQueue::Item &item : items) {
                PendingAnswer pending{benchAnswer(item.address, ++serial), item.address, 0};
                pending.digest = answerDigest(pending.result);
                pending.queueItem = item.id;
                pending.queueWorker = worker;
                batch.push_back(std::move(pending));
                if (batch.size() == 300)
                    write();
            }
        }
        write();
        if (queued)
            queue->endWorker(worker, true);
        const double cpu = processCpuSeconds() - before;
        state.SetIterationTime(cpu);
        state.counters["cpu_us_per_answer"] = cpu * 1e6 / CostAnswers;
        state.counters["claim_us_per_answer"] = claimCpu * 1e6 / CostAnswers;
    }
}
BENCHMARK(BM_QueueCost)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("PGHOST")) {
        std::fputs("bench_queue needs a PostgreSQL cluster: pg_virtualenv bench_queue\n", stderr);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
