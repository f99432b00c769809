// quorvane-cli against its peers on port 43: 10,000 lookups, delay 0, local servers that each
// send a 3.5 KB registry record, run as SERVERS x PARALLEL. Three clients do the same job, one
// after the other, each as a child process whose processor time (user + system, from wait4) is
// counted:
//   - quorvane-cli, list file in, jsonl file out, IANA's answers already cached;
//   - bench/peers/asyncio_whois.py, a minimal asyncio client just as polite (one connection per
//     server at a time, the same delay rule), jsonl file out;
//   - a C loop: connect, send, read to the end, write the record; one lookup after another.
// Each case runs with the answer store (as by default, kept in the benchmark's own folder) and
// with --no-store. The servers run in threads of the benchmark's own process (one per server: a
// polite client never holds two connections to one server), so their work is not counted.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int Lookups = 10000;

// A registry's record of about 3.5 KB: the domain's facts, its contacts and the registry's
// notice, and no referral to a further server.
QByteArray record(const QByteArray &name)
{
    QByteArray r = "Domain Name: " + name.toUpper() + "\r\nRegistry Domain ID: D" +
                   QByteArray::number(qHash(name) % 100000000) +
                   "-BENCH\r\n"
                   "Updated Date: 2024-05-17T08:12:44Z\r\n"
                   "Creation Date: 2003-02-11T15:20:09Z\r\n"
                   "Registry Expiry Date: 2027-02-11T15:20:09Z\r\n"
                   "Registrar: Bench Names and Numbers Ltd\r\n"
                   "Registrar IANA ID: 4242\r\n"
                   "Registrar Abuse Contact Email: abuse@registrar.bench.test\r\n"
                   "Registrar Abuse Contact Phone: +44.2070000000\r\n"
                   "Domain Status: clientDeleteProhibited\r\n"
                   "Domain Status: clientTransferProhibited\r\n"
                   "Domain Status: clientUpdateProhibited\r\n";
    for (const char *role : {"Registrant", "Admin", "Tech", "Billing"}) {
        const QByteArray who(role);
        r += who + " Name: Redacted for Privacy\r\n" + who +
             " Organization: Bench Holdings Limited\r\n" + who +
             " Street: 12 Harbour Walk, Unit 4\r\n" + who + " City: Portsmouth\r\n" + who +
             " State/Province: Hampshire\r\n" + who + " Postal Code: PO1 3AX\r\n" + who +
             " Country: GB\r\n" + who + " Phone: +44.2392000000\r\n" + who + " Email: contact-" +
             who.toLower() + "@privacy.bench.test\r\n";
    }
    r += "Name Server: NS1.DNS-BENCH.TEST\r\nName Server: NS2.DNS-BENCH.TEST\r\n"
         "Name Server: NS3.DNS-BENCH.NET\r\nDNSSEC: signedDelegation\r\n"
         ">>> Last update of WHOIS database: 2024-06-01T10:00:00Z <<<\r\n\r\n";
    static const QByteArray notice =
        "NOTICE: The data in this registry's database is provided for information only. It "
        "helps a person find out who holds a domain name and which registrar manages it. The "
        "registry does not promise that the data is complete or correct. By asking, you agree "
        "to use the data only for lawful purposes and never to send unsolicited mail, to market "
        "to the holders, or to build a copy of the database. The registry may change these "
        "terms at any time. Holders who wish to keep their details out of this service can ask "
        "their registrar for privacy. Questions about a domain go to its registrar first; "
        "questions about this service to the registry's help desk.\r\n";
    while (r.size() < 3500)
        r += notice;
    return r.left(3500);
}

// Blocking accept, read the query line, send, close: one thread per server.
class LoopServer
{
public:
    using Answer = QByteArray (*)(const QByteArray &query);

    explicit LoopServer(Answer answer) : m_answer(answer)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(m_fd, 128) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            qFatal("cannot listen: %s", strerror(errno));
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoopServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    quint16 port() const { return m_port; }

private:
    void serve()
    {
        while (!m_stop) {
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) {
                if (m_stop)
                    return;
                continue;
            }
            QByteArray query;
            char buffer[512];
            while (!query.contains('\n')) {
                const ssize_t got = ::recv(c, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                query.append(buffer, got);
            }
            const QByteArray answer = m_answer(query.trimmed());
            for (qsizetype sent = 0; sent < answer.size();) {
                const ssize_t n = ::send(c, answer.constData() + sent, size_t(answer.size() - sent),
                                         MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
            ::shutdown(c, SHUT_WR);
            ::close(c);
        }
    }

    Answer m_answer;
    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

QByteArray ianaAnswer(const QByteArray &tld)
{
    return "% IANA WHOIS server\n\ndomain:       " + tld.toUpper() +
           "\n\nrefer:        whois.registry-" + tld + ".test\n\nstatus:       ACTIVE\n";
}

struct Spent
{
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int exitCode = -1;
};

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Runs a program with standard output to `outPath`; its processor time from wait4.
Spent spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
            const QString &outPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.toLocal8Bit().constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> args, envs;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (char **e = environ; *e; ++e)
        envs.push_back(*e);
    for (const std::string &e : env)
        envs.push_back(const_cast<char *>(e.c_str()));
    envs.push_back(nullptr);
    Spent spent;
    const double start = now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envs.data()) != 0)
        qFatal("cannot start %s", args[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    spent.wallSeconds = now() - start;
    spent.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    spent.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return spent;
}

// The floor: one lookup after another, blocking, in a child process.
Spent cLoop(const std::vector<std::pair<std::string, quint16>> &work, const QString &outPath)
{
    const double start = now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        FILE *out = std::fopen(outPath.toLocal8Bit().constData(), "w");
        std::vector<char> answer(1 << 20);
        for (const auto &[name, port] : work) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(port);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                _exit(1);
            const std::string query = name + "\r\n";
            if (::send(fd, query.data(), query.size(), MSG_NOSIGNAL) < 0)
                _exit(1);
            size_t got = 0;
            for (ssize_t n; (n = ::recv(fd, answer.data() + got, answer.size() - got, 0)) > 0;)
                got += size_t(n);
            ::close(fd);
            std::fprintf(out, "%s\t%zu\t", name.c_str(), got);
            std::fwrite(answer.data(), 1, got, out);
            std::fputc('\n', out);
        }
        std::fclose(out);
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Spent spent;
    spent.wallSeconds = now() - start;
    spent.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    spent.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return spent;
}

qsizetype linesIn(const QString &path, const QByteArray &containing = {})
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qsizetype n = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        n += containing.isEmpty() || line.contains(containing);
    }
    return n;
}

void BM_Port43(benchmark::State &state)
{
    const int serverCount = int(state.range(0));
    const int parallel = int(state.range(1));
    // 1: the answer store kept as by default (in the benchmark's folder); 0: --no-store.
    const bool store = state.range(2) != 0;
    LoopServer iana([](const QByteArray &tld) { return ianaAnswer(tld); });
    std::vector<std::unique_ptr<LoopServer>> servers;
    QStringList connectTo{QStringLiteral("whois.iana.org:43:127.0.0.1:%1").arg(iana.port())};
    QTemporaryDir dir;
    QFile map(dir.filePath(QStringLiteral("map")));
    map.open(QIODevice::WriteOnly);
    for (int s = 0; s < serverCount; ++s) {
        servers.push_back(std::make_unique<LoopServer>(record));
        connectTo << QStringLiteral("whois.registry-t%1.test:43:127.0.0.1:%2")
                         .arg(s)
                         .arg(servers.back()->port());
        map.write("t" + QByteArray::number(s) +
                  " 127.0.0.1:" + QByteArray::number(servers.back()->port()) + "\n");
    }
    map.close();
    std::vector<std::pair<std::string, quint16>> work;
    QFile list(dir.filePath(QStringLiteral("list")));
    QFile warm(dir.filePath(QStringLiteral("warm")));
    list.open(QIODevice::WriteOnly);
    warm.open(QIODevice::WriteOnly);
    for (int i = 0; i < Lookups; ++i) {
        const int s = i % serverCount;
        const QByteArray name = "name" + QByteArray::number(i) + ".t" + QByteArray::number(s);
        list.write(name + "\n");
        if (i < serverCount)
            warm.write("warm." + name + "\n");
        work.emplace_back(name.toStdString(), servers[size_t(s)]->port());
    }
    list.close();
    warm.close();

    // QUORVANE_BENCH_CLI names another build to measure (an earlier one, for a before and after).
    const char *other = std::getenv("QUORVANE_BENCH_CLI");
    const std::string cli = other && *other ? other : QUORVANE_CLI;
    const std::vector<std::string> env{
        "QUORVANE_CONNECT_TO=" + connectTo.join(u',').toStdString(),
        "XDG_CACHE_HOME=" + dir.filePath(QStringLiteral("cache")).toStdString(),
        "XDG_DATA_HOME=" + dir.filePath(QStringLiteral("data")).toStdString()};
    const auto cliArgs = [&](const QString &listPath) {
        std::vector<std::string> args{cli,
                                      "--source",
                                      "whois",
                                      "--delay",
                                      "0",
                                      "--parallel",
                                      std::to_string(parallel),
                                      "--format",
                                      "jsonl",
                                      "--quiet",
                                      listPath.toStdString()};
        if (!store)
            args.insert(args.end() - 1, "--no-store");
        return args;
    };
    const QString out = dir.filePath(QStringLiteral("out"));
    // IANA's answers into the cache, as after any earlier run.
    if (spawn(cliArgs(warm.fileName()), env, out).exitCode != 0)
        qFatal("the warm-up run failed");

    for (auto _ : state) {
        const Spent ours = spawn(cliArgs(list.fileName()), env, out);
        const qsizetype ourRecords = linesIn(out, "\"status\":\"registered\"");
        const Spent peer = spawn({"/usr/bin/python3", QUORVANE_PEERS_DIR "/asyncio_whois.py",
                                  list.fileName().toStdString(), map.fileName().toStdString(),
                                  std::to_string(parallel), "0"},
                                 {}, out);
        const qsizetype peerRecords = linesIn(out, "\"record\"");
        const Spent floor = cLoop(work, out);
        const qsizetype floorRecords = linesIn(out, "Domain Name:");
        if (ours.exitCode != 0 || ourRecords != Lookups || peer.exitCode != 0 ||
            peerRecords != Lookups || floor.exitCode != 0 || floorRecords != Lookups) {
            state.SkipWithError("a client did not answer every lookup");
            break;
        }
        state.SetIterationTime(ours.wallSeconds);
        state.counters["cpu_ms_per_lookup"] = ours.cpuSeconds * 1000 / Lookups;
        state.counters["peer_cpu_ms_per_lookup"] = peer.cpuSeconds * 1000 / Lookups;
        state.counters["floor_cpu_ms_per_lookup"] = floor.cpuSeconds * 1000 / Lookups;
        state.counters["x_peer"] = peer.cpuSeconds / ours.cpuSeconds;
        state.counters["x_floor"] = ours.cpuSeconds / floor.cpuSeconds;
        state.counters["lookups_per_s"] = Lookups / ours.wallSeconds;
        state.counters["peer_lookups_per_s"] = Lookups / peer.wallSeconds;
    }
}

} // namespace

BENCHMARK(BM_Port43)
    ->ArgNames({"servers", "parallel", "store"})
    ->Args({1, 1, 1})
    ->Args({1, 64, 1})
    ->Args({50, 8, 1})
    ->Args({50, 64, 1})
    ->Args({1, 1, 0})
    ->Args({1, 64, 0})
    ->Args({50, 8, 0})
    ->Args({50, 64, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
