// The polite scheduler against port-43 servers in the same process on 127.0.0.1 that allow one
// query per second per client and answer a rate-limit message to anything faster: how close a
// run over many servers comes to the ideal time, that no query is refused, how a server that
// refuses each client's first query is handled, and how soon the names of a server that never
// accepts a connection end.
#include "run/lookuprun.h"
#include "testwhoisserver.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView RateLimitAnswer = "% Query rate limit exceeded. Try again later.\r\n";

// One query per second: a faster one gets the rate-limit message. `refuseFirst`: the first
// query of the client is refused too.
struct PoliteServer
{
    qint64 last = 0;
    int refused = 0;
    bool refuseFirst = false;
    std::unique_ptr<TestWhoisServer> server;

    explicit PoliteServer(bool refuseFirstQuery = false) : refuseFirst(refuseFirstQuery)
    {
        server = std::make_unique<TestWhoisServer>([this](const QByteArray &query) {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            const bool tooSoon = (last != 0 && now - last < 1000) || (refuseFirst && last == 0);
            last = now;
            if (tooSoon) {
                ++refused;
                return TestWhoisServer::Reply{RateLimitAnswer.toByteArray()};
            }
            const QByteArray name = query.split(' ').last();
            return TestWhoisServer::Reply{"Domain Name: " + name + "\r\nRegistrar: Example\r\n"};
        });
    }
};

TestWhoisServer::Reply ianaAnswer(const QByteArray &tld)
{
    return {"domain: " + tld + "\nrefer: whois.nic." + tld + "\n"};
}

// A listening socket whose single backlog place is taken and that never accepts: further
// connections are never completed.
struct DeadServer
{
    int listener = -1;
    int filler = -1;
    quint16 port = 0;
    DeadServer()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(listener, 0);
        socklen_t len = sizeof addr;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
        filler = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(filler, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }
    ~DeadServer()
    {
        ::close(filler);
        ::close(listener);
    }
};

struct Outcome
{
    double seconds = 0;
    int records = 0;
    int rows = 0;
    QList<double> endSeconds; // per row, from the start
};

// One run over `tlds` servers with `perServer` names each, names interleaved across servers.
Outcome runOnce(std::map<QString, PoliteServer> &servers, const QStringList &names,
                const QStringList &extraMapping, const QString &cacheFolder, int parallel)
{
    TestWhoisServer iana(ianaAnswer);
    QStringList mapping{iana.mapping(QStringLiteral("whois.iana.org"))};
    for (auto &[host, s] : servers)
        mapping << s.server->mapping(host);
    mapping += extraMapping;
    RunOptions options;
    options.source = [] { return std::optional(SourceKind::Whois); };
    options.delayText = [] { return QStringLiteral("1"); };
    options.parallel = parallel;
    options.connectTo = ConnectToMap::parse(mapping.join(u','));
    options.cacheFolder = cacheFolder;
    LookupRun run(names, std::move(options));
    Outcome out;
    QElapsedTimer clock;
    QObject::connect(&run, &LookupRun::resultReady, &run, [&](qsizetype, const LookupResult &r) {
        ++out.rows;
        out.records += r.ok() && !r.fields.isEmpty();
        out.endSeconds << clock.elapsed() / 1000.0;
    });
    QSignalSpy done(&run, &LookupRun::finished);
    clock.start();
    run.start();
    done.wait(600000);
    out.seconds = clock.elapsed() / 1000.0;
    return out;
}

QStringList namesFor(int servers, int perServer)
{
    QStringList names;
    for (int i = 0; i < perServer; ++i)
        for (int s = 0; s < servers; ++s)
            names << QStringLiteral("name%1.t%2").arg(i).arg(s);
    return names;
}

// IANA's answers for every TLD, fetched once before the measured run (as a second run of the
// day finds them), through permissive stand-ins for the registries.
void warmIanaCache(int servers, const QString &folder)
{
    std::map<QString, PoliteServer> warm;
    for (int s = 0; s < servers; ++s)
        warm.try_emplace(QStringLiteral("whois.nic.t%1").arg(s));
    TestWhoisServer iana(ianaAnswer);
    QStringList mapping{iana.mapping(QStringLiteral("whois.iana.org"))};
    for (auto &[host, s] : warm)
        mapping << s.server->mapping(host);
    RunOptions options;
    options.source = [] { return std::optional(SourceKind::Whois); };
    options.delayText = [] { return QStringLiteral("0"); };
    options.parallel = servers;
    options.connectTo = ConnectToMap::parse(mapping.join(u','));
    options.cacheFolder = folder;
    LookupRun run(namesFor(servers, 1), std::move(options));
    QSignalSpy done(&run, &LookupRun::finished);
    run.start();
    done.wait(60000);
}

void BM_ManyServers(benchmark::State &state)
{
    const int servers = int(state.range(0));
    const int names = int(state.range(1));
    for (auto _ : state) {
        QTemporaryDir cache;
        warmIanaCache(servers, cache.path());
        std::map<QString, PoliteServer> registries;
        for (int s = 0; s < servers; ++s)
            registries.try_emplace(QStringLiteral("whois.nic.t%1").arg(s));
        const Outcome out =
            runOnce(registries, namesFor(servers, names / servers), {}, cache.path(), servers);
        int refused = 0;
        for (auto &[host, s] : registries)
            refused += s.refused;
        state.SetIterationTime(out.seconds);
        state.counters["seconds"] = out.seconds;
        state.counters["ideal_seconds"] = double(names / servers) * 1.0;
        state.counters["rate_limit_answers"] = refused;
        state.counters["records"] = out.records;
    }
}

void BM_FirstQueryRefused(benchmark::State &state)
{
    const int servers = 5;
    const int perServer = int(state.range(0));
    for (auto _ : state) {
        QTemporaryDir cache;
        warmIanaCache(servers, cache.path());
        std::map<QString, PoliteServer> registries;
        for (int s = 0; s < servers; ++s)
            registries.try_emplace(QStringLiteral("whois.nic.t%1").arg(s), true);
        const Outcome out =
            runOnce(registries, namesFor(servers, perServer), {}, cache.path(), servers);
        int refused = 0;
        for (auto &[host, s] : registries)
            refused += s.refused;
        state.SetIterationTime(out.seconds);
        state.counters["seconds"] = out.seconds;
        state.counters["rows"] = out.rows;
        state.counters["records"] = out.records;
        state.counters["rate_limit_answers"] = refused;
    }
}

void BM_ServerNeverAccepts(benchmark::State &state)
{
    const int names = int(state.range(0));
    for (auto _ : state) {
        QTemporaryDir cache;
        warmIanaCache(1, cache.path());
        DeadServer dead;
        std::map<QString, PoliteServer> none;
        QStringList deadNames;
        for (int i = 0; i < names; ++i)
            deadNames << QStringLiteral("name%1.t0").arg(i);
        const Outcome out = runOnce(none, deadNames,
                                    {QStringLiteral("whois.nic.t0:43:127.0.0.1:%1").arg(dead.port)},
                                    cache.path(), 8);
        state.SetIterationTime(out.seconds);
        state.counters["rows"] = out.rows;
        state.counters["last_row_seconds"] = out.endSeconds.isEmpty() ? -1 : out.endSeconds.last();
    }
}

} // namespace

BENCHMARK(BM_ManyServers)
    ->Args({5, 50})
    ->Args({50, 200})
    ->Args({50, 2000})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_FirstQueryRefused)->Arg(10)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ServerNeverAccepts)->Arg(20)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
