// A port-43 run of 10,000 names with delay 0 against local servers (IANA, two registries,
// three registrars) that answer from a thread of their own: the client's own cost per lookup
// (CPU time of the run's thread, which does all the client's work and none of the servers'),
// the wall time, and how often IANA was asked (once per TLD is the aim).
#include "run/lookuprun.h"
#include "testwhoisserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include <time.h>

namespace {

constexpr int Tlds = 10;

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The six servers, made, run and destroyed in their own thread.
class Servers
{
public:
    Servers()
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_context, [this] { make(); }, Qt::BlockingQueuedConnection);
    }
    ~Servers()
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { m_servers.clear(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    QString connectTo() const { return m_mapping.join(u','); }
    int ianaQueries() const { return m_iana.load(); }

private:
    void make()
    {
        // IANA: TLDs t0..t4 belong to registry a, t5..t9 to registry b.
        add(QStringLiteral("whois.iana.org"), [this](const QByteArray &tld) {
            ++m_iana;
            const char registry = tld.mid(1).toInt() < Tlds / 2 ? 'a' : 'b';
            return TestWhoisServer::Reply{"domain: " + tld + "\nrefer: whois.registry-" + registry +
                                          ".test\n"};
        });
        for (const char *registry : {"a", "b"}) {
            add(QStringLiteral("whois.registry-%1.test").arg(QLatin1String(registry)),
                [](const QByteArray &name) {
                    const int registrar = int(qHash(name) % 3);
                    return TestWhoisServer::Reply{
                        "Domain Name: " + name.toUpper() +
                        "\r\nRegistrar WHOIS Server: whois.registrar" +
                        QByteArray::number(registrar) +
                        ".test\r\nUpdated Date: 2024-01-01T00:00:00Z\r\n"};
                });
        }
        for (int r = 0; r < 3; ++r) {
            add(QStringLiteral("whois.registrar%1.test").arg(r), [](const QByteArray &name) {
                QByteArray record = "Domain Name: " + name + "\r\n";
                for (int i = 0; i < 20; ++i)
                    record += "Field " + QByteArray::number(i) + ": value " +
                              QByteArray::number(i) + "\r\n";
                return TestWhoisServer::Reply{record};
            });
        }
    }

    void add(const QString &host, TestWhoisServer::Handler handler)
    {
        m_servers.push_back(std::make_unique<TestWhoisServer>(std::move(handler)));
        m_mapping << m_servers.back()->mapping(host);
    }

    QThread m_thread;
    QObject m_context;
    std::vector<std::unique_ptr<TestWhoisServer>> m_servers;
    QStringList m_mapping;
    std::atomic<int> m_iana{0};
};

void BM_WhoisRun(benchmark::State &state)
{
    const int names = int(state.range(0));
    QStringList list;
    for (int i = 0; i < names; ++i)
        list << QStringLiteral("name%1.t%2").arg(i).arg(i % Tlds);
    for (auto _ : state) {
        Servers servers;
        QTemporaryDir cache; // empty: IANA is asked
        RunOptions options;
        options.source = [] { return std::optional(SourceKind::Whois); };
        options.delayText = [] { return QStringLiteral("0"); };
        options.connectTo = ConnectToMap::parse(servers.connectTo());
        options.cacheFolder = cache.path();
        LookupRun run(list, std::move(options));
        int records = 0, chains = 0;
        QObject::connect(&run, &LookupRun::resultReady, &run,
                         [&](qsizetype, const LookupResult &r) {
                             records += r.ok() && !r.fields.isEmpty();
                             chains += r.servers.size() == 3;
                         });
        QSignalSpy done(&run, &LookupRun::finished);
        QElapsedTimer clock;
        const double cpu0 = threadCpuSeconds();
        clock.start();
        run.start();
        done.wait(600000);
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        const double cpu = threadCpuSeconds() - cpu0;
        state.SetIterationTime(wall);
        state.counters["client_cpu_ms_per_lookup"] = cpu * 1000.0 / names;
        state.counters["wall_ms_per_lookup"] = wall * 1000.0 / names;
        state.counters["iana_queries"] = servers.ianaQueries();
        state.counters["records"] = records;
        state.counters["three_server_chains"] = chains;
    }
}

} // namespace

BENCHMARK(BM_WhoisRun)->Arg(10000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
