#include "../results/xlsxreader.h"
#include "cli/answersaver.h"
#include "cli/clioptions.h"
#include "cli/descriptorbudget.h"
#include "cli/jsonline.h"
#include "cli/runsummary.h"
#include "facts/recordfacts.h"
#include "lookup/lookupresult.h"
#include "results/pivot.h"
#include "results/textexport.h"
#include "run/lookuprun.h"
#include "run/resultplacing.h"
#include "run/runfeed.h"
#include "testhttpserver.h"
#include "testregistry.h"
#include "testwhoisserver.h"
#include "text/utf8text.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <map>
#include <memory>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The record of every address: a repeated name (one cell, tab-joined, in the tables), quotes
// and a value that a spreadsheet would take for a formula. "fail." addresses are refused.
TestHttpServer::Response serve(const QByteArray &target)
{
    TestHttpServer::Response response;
    const QByteArray address = QByteArray::fromPercentEncoding(target.mid(1));
    if (address.startsWith("fail."))
        response.reset = true;
    else if (address.startsWith("slow"))
        response.delayMs = 400;
    response.body = "<html><body><div id=\"whoisRecordContainer\">Domain Name: " + address +
                    "<br>Name Server: ns1.example<br>Name Server: ns2.example"
                    "<br>Note: say &quot;hi&quot;<br>Formula: =1+2" +
                    (address.startsWith("extra.") ? "<br>Extra: more" : "") +
                    "</div></body></html>";
    return response;
}

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the tool while this thread's event loop keeps the test server answering.
class Cli
{
public:
    // Site 2 at the test server unless the arguments name another source; port 43 through
    // `connectTo`, IANA's answers cached in a folder of the test's own.
    explicit Cli(const TestHttpServer &server, const QString &connectTo = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QUORVANE_SITE2_URL"_s, server.baseUrl() + u"/"_s);
        env.insert(u"QUORVANE_CONNECT_TO"_s, connectTo);
        env.insert(u"XDG_CACHE_HOME"_s, m_cache.path());
        env.insert(u"XDG_DATA_HOME"_s, m_cache.filePath(u"data"_s));
        env.insert(u"no_proxy"_s, u"127.0.0.1"_s);
        m_process.setProcessEnvironment(env);
        m_process.setProgram(QStringLiteral(QUORVANE_CLI));
    }

    // The child may open at most `soft` files, `hard` once it raises its own limit.
    void limitFiles(rlim_t soft, rlim_t hard)
    {
        m_process.setChildProcessModifier([soft, hard] {
            const rlimit limit{soft, hard};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        });
    }

    QProcess &process() { return m_process; }
    void setEnvironment(const QString &name, const QString &value)
    {
        QProcessEnvironment env = m_process.processEnvironment();
        env.insert(name, value);
        m_process.setProcessEnvironment(env);
    }

    // Runs the tool under `command` (a shell line run by unshare in a mount namespace of its
    // own, say), which ends by running the program it is given with its arguments.
    void confine(const QString &command)
    {
        m_confine = command;
        m_process.setProgram(u"/usr/bin/unshare"_s);
    }

    void start(const QStringList &arguments, const QByteArray &input = {})
    {
        QStringList all{u"--source"_s, u"site2"_s};
        // A sub-command stays first.
        if (!arguments.isEmpty() &&
            QStringList{u"history"_s, u"changes"_s, u"expiring"_s, u"latest"_s}.contains(
                arguments.first()))
            all.clear();
        all += arguments;
        if (!m_confine.isEmpty())
            all = QStringList{u"-m"_s, u"sh"_s, u"-c"_s, m_confine + u" && exec \"$0\" \"$@\""_s,
                              QStringLiteral(QUORVANE_CLI)} +
                  all;
        m_process.setArguments(all);
        m_process.start();
        m_process.write(input);
        m_process.closeWriteChannel();
    }

    // Spins until `lines` lines have come out on standard output.
    QByteArray awaitLines(int lines)
    {
        while (m_out.count('\n') < lines && m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(0);
            QTest::qWait(5);
            m_out += m_process.readAllStandardOutput();
        }
        return m_out;
    }

    // Only ever the tool: a process that has ended has no id, and kill(0) would hit the test.
    void signal(int number)
    {
        if (m_process.processId() > 0)
            ::kill(pid_t(m_process.processId()), number);
    }

    Outcome finish()
    {
        QEventLoop loop;
        QObject::connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        if (m_process.state() != QProcess::NotRunning)
            loop.exec();
        Outcome outcome;
        outcome.exitCode =
            m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        outcome.out = m_out + m_process.readAllStandardOutput();
        outcome.err = m_process.readAllStandardError();
        return outcome;
    }

    Outcome run(const QStringList &arguments, const QByteArray &input = {})
    {
        start(arguments, input);
        return finish();
    }

    // The tool with standard output and standard error on one terminal (a pseudo-terminal that
    // Python's pty module opens); what the terminal received comes back as standard output.
    Outcome runOnTerminal(const QStringList &arguments)
    {
        static const QString script = u"import os, pty, sys\n"
                                      "pid, fd = pty.fork()\n"
                                      "if pid == 0:\n"
                                      "    os.execv(sys.argv[1], sys.argv[1:])\n"
                                      "out = b''\n"
                                      "while True:\n"
                                      "    try:\n"
                                      "        chunk = os.read(fd, 65536)\n"
                                      "    except OSError:\n"
                                      "        break\n"
                                      "    if not chunk:\n"
                                      "        break\n"
                                      "    out += chunk\n"
                                      "_, status = os.waitpid(pid, 0)\n"
                                      "sys.stdout.buffer.write(out)\n"
                                      "sys.exit(os.waitstatus_to_exitcode(status))\n"_s;
        m_process.setProgram(u"/usr/bin/python3"_s);
        m_process.setArguments(
            QStringList{u"-c"_s, script, QStringLiteral(QUORVANE_CLI), u"--source"_s, u"site2"_s} +
            arguments);
        m_process.start();
        m_process.closeWriteChannel();
        return finish();
    }

private:
    QTemporaryDir m_cache;
    QProcess m_process;
    QByteArray m_out;
    QString m_confine;
};

// Whether this process may make a mount namespace of its own (root, usually): then a store can
// be put on a full or read-only file system that no one else sees.
bool canConfine()
{
    QProcess probe;
    probe.start(u"/usr/bin/unshare"_s,
                {u"-m"_s, u"sh"_s, u"-c"_s, u"mount -t tmpfs -o size=64k tmpfs /mnt"_s});
    return probe.waitForFinished() && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

// Port 43 for the store's tests: whois.nic.tst answers every name with a record whose registrar
// and expiry the test sets, a database stamp that changes with every answer, and "fail." names
// with a reset.
struct StoreWorld
{
    QByteArray registrar = "First Registrar";
    QByteArray expires = "2030-01-01T00:00:00Z";
    int stamp = 0;
    int delayMs = 0;
    TestWhoisServer registry{[this](const QByteArray &name) {
        TestWhoisServer::Reply reply{
            "Domain Name: " + name + "\r\nRegistrar: " + registrar +
            "\r\nRegistry Expiry Date: " + expires + "\r\nName Server: ns1." + name +
            "\r\n>>> Last update of WHOIS database: " + QByteArray::number(++stamp) + " <<<\r\n"};
        reply.reset = name.startsWith("fail.");
        if (reply.reset)
            reply.bytes.clear();
        reply.delayMs = delayMs;
        return reply;
    }};

    QString connectTo() const { return registry.mapping(u"whois.nic.tst"_s); }
    static QStringList arguments(const QString &store)
    {
        return {u"--source"_s,
                u"whois"_s,
                u"--whois-server"_s,
                u"whois.nic.tst"_s,
                u"--no-referrals"_s,
                u"--quiet"_s,
                u"-d"_s,
                u"0"_s,
                u"-f"_s,
                u"jsonl"_s,
                u"--store"_s,
                store};
    }
};

// Where a store test keeps its store: a file in `dir`, or, when the program runs under
// pg_virtualenv with QUORVANE_TEST_POSTGRES set (ctest's tst_cli_postgres), a new database of
// that cluster, so the same cases hold the store on PostgreSQL.
QString testStore(const QTemporaryDir &dir, const QString &name)
{
    if (qEnvironmentVariableIsEmpty("QUORVANE_TEST_POSTGRES"))
        return dir.filePath(name + u".sqlite"_s);
    static int made = 0;
    const QString database =
        u"cli_%1_%2_%3"_s.arg(QCoreApplication::applicationPid()).arg(++made).arg(name);
    QProcess psql;
    psql.setWorkingDirectory(QDir::tempPath()); // the test's own may be gone
    psql.start(u"psql"_s, {u"-qAt"_s, u"-c"_s, u"CREATE DATABASE "_s + database});
    if (!psql.waitForFinished() || psql.exitCode() != 0)
        qFatal("cannot make a database: %s", psql.readAllStandardError().constData());
    return u"postgresql://%1@%2:%3/%4"_s.arg(qEnvironmentVariable("PGUSER"),
                                             qEnvironmentVariable("PGHOST"),
                                             qEnvironmentVariable("PGPORT"), database);
}

// What Python's module makes of the bytes, as JSON.
QJsonDocument pythonReads(const QString &script, const QByteArray &bytes)
{
    QProcess python;
    python.start(u"/usr/bin/python3"_s, {u"-c"_s, script});
    python.write(bytes);
    python.closeWriteChannel();
    python.waitForFinished();
    return QJsonDocument::fromJson(python.readAllStandardOutput());
}

const QString CsvReader = u"import csv, io, json, sys\n"
                          "data = sys.stdin.buffer.read().decode('utf-8')\n"
                          "print(json.dumps(list(csv.reader(io.StringIO(data, newline='')))))"_s;
// The window's text: tab-separated as it is, CR LF.
const QString TxtReader =
    u"import json, sys\n"
    "data = sys.stdin.buffer.read().decode('utf-8')\n"
    "print(json.dumps([l.split('\\t') for l in data.split('\\r\\n')[:-1]]))"_s;
// Escaped tab-separated values as PostgreSQL's COPY and Miller read them: LF ends a line, a tab
// ends a field, and \\t \\n \\r \\\\ inside a field stand for what they escape.
const QString TsvReader =
    u"import json, re, sys\n"
    "data = sys.stdin.buffer.read().decode('utf-8')\n"
    "un = {'t': '\\t', 'n': '\\n', 'r': '\\r', '\\\\': '\\\\'}\n"
    "field = lambda f: re.sub(r'\\\\(.)', lambda m: un.get(m.group(1), m.group(0)), f)\n"
    "print(json.dumps([[field(f) for f in l.split('\\t')] for l in data.split('\\n')[:-1]]))"_s;
const QString JsonLinesReader = u"import json, sys\n"
                                "print(json.dumps([json.loads(l) for l in sys.stdin]))"_s;

// Port 43 on 127.0.0.1: IANA refers every TLD to whois.nic.<tld>, which names the registrar's
// server; the registrar gives the record. Each server counts what it is asked.
struct WhoisWorld
{
    TestWhoisServer iana{[](const QByteArray &tld) {
        return TestWhoisServer::Reply{"domain: " + tld + "\nrefer: whois.nic." + tld + "\n"};
    }};
    TestWhoisServer registry{[](const QByteArray &name) {
        return TestWhoisServer::Reply{"Domain Name: " + name +
                                      "\r\nRegistrar WHOIS Server: whois.registrar.tst\r\n"};
    }};
    TestWhoisServer registrar{[](const QByteArray &name) {
        return TestWhoisServer::Reply{"Domain Name: " + name + "\r\nRegistrar: Example\r\n"};
    }};

    QString connectTo() const
    {
        return QStringList{iana.mapping(u"whois.iana.org"_s), registry.mapping(u"whois.nic.tst"_s),
                           registrar.mapping(u"whois.registrar.tst"_s)}
            .join(u',');
    }
};

// Port 43 on 127.0.0.1 with a registry per top-level domain: IANA refers "<tld>" to
// whois.nic.<tld>; each registry answers through its own handler.
struct Registries
{
    TestWhoisServer iana{[](const QByteArray &tld) {
        return TestWhoisServer::Reply{"domain: " + tld + "\nrefer: whois.nic." + tld + "\n"};
    }};
    std::map<QString, std::unique_ptr<TestWhoisServer>> registries;

    static TestWhoisServer::Reply record(const QByteArray &name)
    {
        return TestWhoisServer::Reply{"Domain Name: " + name + "\r\nRegistrar: Example\r\n"};
    }

    TestWhoisServer &add(const QString &tld, TestWhoisServer::Handler handler = record)
    {
        auto &server = registries[tld];
        server = std::make_unique<TestWhoisServer>(std::move(handler));
        return *server;
    }

    // `dead`: top-level domains whose registry refuses every connection.
    QString connectTo(const QStringList &dead = {}) const
    {
        QStringList entries{iana.mapping(u"whois.iana.org"_s)};
        for (const auto &[tld, server] : registries)
            entries << server->mapping(u"whois.nic."_s + tld);
        for (const QString &tld : dead)
            entries << u"whois.nic."_s + tld + u":43:127.0.0.1:"_s + QString::number(closedPort());
        return entries.join(u',');
    }

    // A port on 127.0.0.1 that nothing listens on.
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort(); // closed as the probe goes
    }
};

// The most queries a server had under way at once, each taking `answerMs`.
int mostAtOnce(const QList<qint64> &arrivals, int answerMs)
{
    int most = 0;
    for (qint64 start : arrivals) {
        const auto n = std::count_if(arrivals.begin(), arrivals.end(),
                                     [&](qint64 t) { return t >= start && t < start + answerMs; });
        most = std::max(most, int(n));
    }
    return most;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The rows of a workbook as text.
QList<QStringList> workbookRows(const QString &path)
{
    const XlsxContents book = readXlsx(path);
    QList<QStringList> rows;
    for (int r = 1; r <= book.maxRow; ++r) {
        rows.append(QStringList());
        for (int c = 1; c <= book.maxColumn; ++c)
            rows.last() << book.text(r, c);
    }
    return rows;
}

QStringList addressesOf(const QJsonDocument &lines)
{
    QStringList out;
    for (const QJsonValue &line : lines.array())
        out << line[u"address"].toString();
    return out;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        const QStringList run{u"--delay"_s, u"0"_s, u"--format"_s, u"jsonl"_s};
        QTest::newRow("all looked up") << run << "a.example\nb.example\n"_ba << 0;
        QTest::newRow("one failed") << run << "a.example\nfail.example\n"_ba << 1;
        QTest::newRow("nothing to look up") << run << "\r\n\n"_ba << 0;
        QTest::newRow("delay not a number") << QStringList{u"--delay"_s, u"soon"_s} << ""_ba << 2;
        QTest::newRow("delay negative") << QStringList{u"--delay"_s, u"-0.2"_s} << ""_ba << 2;
        QTest::newRow("delay too long") << QStringList{u"--delay"_s, u"40000"_s} << ""_ba << 2;
        QTest::newRow("unknown source") << QStringList{u"--source"_s, u"site4"_s} << ""_ba << 2;
        QTest::newRow("parallel 0") << QStringList{u"--parallel"_s, u"0"_s} << ""_ba << 2;
        QTest::newRow("parallel 1000") << (run + QStringList{u"-p"_s, u"1000"_s}) << ""_ba << 0;
        QTest::newRow("parallel 1001") << QStringList{u"-p"_s, u"1001"_s} << ""_ba << 2;
        QTest::newRow("half a second's delay") << QStringList{u"-d"_s, u"0.5"_s} << ""_ba << 0;
        QTest::newRow("timeout not a number") << QStringList{u"--timeout"_s, u"x"_s} << ""_ba << 2;
        QTest::newRow("timeout zero") << QStringList{u"--timeout"_s, u"0"_s} << ""_ba << 2;
        QTest::newRow("retry without resume") << QStringList{u"--retry-failed"_s} << ""_ba << 2;
        QTest::newRow("save answers without a folder")
            << QStringList{u"--save-answers"_s, u""_s} << ""_ba << 2;
        QTest::newRow("parallel not a number") << QStringList{u"-p"_s, u"many"_s} << ""_ba << 2;
        QTest::newRow("whois server malformed")
            << QStringList{u"--source"_s, u"whois"_s, u"--whois-server"_s, u"a b:70000"_s} << ""_ba
            << 2;
        QTest::newRow("whois server for a site")
            << QStringList{u"--whois-server"_s, u"whois.nic.tst"_s} << ""_ba << 2;
        QTest::newRow("no referrals for rdap")
            << QStringList{u"--source"_s, u"rdap"_s, u"--no-referrals"_s} << ""_ba << 2;
        QTest::newRow("missing list file named like an address")
            << QStringList{u"domains.txt"_s} << ""_ba << 2;
        QTest::newRow("argument that is no address") << QStringList{u"no such"_s} << ""_ba << 2;
        QTest::newRow("unknown format") << QStringList{u"-f"_s, u"xml"_s} << ""_ba << 2;
        QTest::newRow("unknown option") << QStringList{u"--fast"_s} << ""_ba << 2;
        QTest::newRow("xlsx to a pipe") << QStringList{u"-f"_s, u"xlsx"_s} << ""_ba << 2;
        QTest::newRow("resume without a file") << QStringList{u"--resume"_s} << ""_ba << 2;
        QTest::newRow("missing list file") << QStringList{u"/nonexistent/list.txt"_s} << ""_ba << 2;
        QTest::newRow("folder as list file") << QStringList{u"/tmp"_s} << ""_ba << 2;
        QTest::newRow("read-records without files")
            << QStringList{u"--read-records"_s} << ""_ba << 2;
        QTest::newRow("read-records missing file")
            << QStringList{u"--read-records"_s, u"/nonexistent/answer.txt"_s} << ""_ba << 2;
        QTest::newRow("output not writable")
            << (run + QStringList{u"-o"_s, u"/nonexistent/out.jsonl"_s}) << "a.example\n"_ba << 3;
        QTest::newRow("output full")
            << (run + QStringList{u"-o"_s, u"/dev/full"_s}) << "a.example\n"_ba << 3;
        QTest::newRow("output a folder")
            << (run + QStringList{u"-o"_s, u"/tmp"_s}) << "a.example\n"_ba << 3;
    }

    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        TestHttpServer server(serve);
        const Outcome outcome = Cli(server).run(arguments, input);
        QCOMPARE(outcome.exitCode, exitCode);
        // Errors are one line each; a run says only its summary on a stderr that is no terminal.
        QVERIFY2(outcome.err.startsWith("quorvane-cli: "), outcome.err.constData());
        if (exitCode < 2) {
            QCOMPARE(outcome.err.count('\n'), 1);
            QVERIFY2(outcome.err.contains(" lookup"), outcome.err.constData());
        }
    }

    void jsonlReadBack()
    {
        TestHttpServer server(serve);
        // A byte-order mark, CR LF, a lone CR and an empty line in standard input.
        const Outcome outcome = Cli(server).run(
            {u"--delay"_s, u"0"_s, u"-f"_s, u"jsonl"_s, u"-a"_s, u"first.example"_s, u"-"_s},
            "\xEF\xBB\xBFone.example\r\n\r\nfail.example\rtwo.example"_ba);
        QCOMPARE(outcome.exitCode, 1);
        const QJsonDocument lines = pythonReads(JsonLinesReader, outcome.out);
        QCOMPARE(addressesOf(lines), (QStringList{u"first.example"_s, u"one.example"_s,
                                                  u"fail.example"_s, u"two.example"_s}));
        const QJsonObject one = lines[1].toObject();
        QCOMPARE(one[u"status"].toString(), u"registered"_s); // the record's facts
        QCOMPARE(one[u"name_servers"].toArray(), (QJsonArray{u"ns1.example"_s, u"ns2.example"_s}));
        QCOMPARE(one[u"source"].toString(), u"site2"_s);
        QVERIFY(!one.contains(u"error"));
        QCOMPARE(one[u"servers"].toArray().size(), 1);
        const QJsonArray fields = one[u"fields"].toArray();
        QCOMPARE(fields.size(), 5);
        QCOMPARE(fields[1].toArray(), (QJsonArray{u"Name Server"_s, u"ns1.example"_s}));
        QCOMPARE(fields[2].toArray(), (QJsonArray{u"Name Server"_s, u"ns2.example"_s}));
        QCOMPARE(fields[3].toArray(), (QJsonArray{u"Note"_s, u"say \"hi\""_s}));
        const QJsonObject failed = lines[2].toObject();
        QCOMPARE(failed[u"status"].toString(), u"failed"_s);
        QVERIFY(!failed[u"error"].toString().isEmpty());
        QVERIFY(failed[u"fields"].toArray().isEmpty());
    }

    // Saved answers, one per file, in every format: port-43 text in UTF-8 and in Latin-1, an
    // RDAP object, and a rate-limit refusal that also says "no match" (throttled, never
    // available). Each file is one row or object, in the order given, its address the path.
    void readRecords_data()
    {
        QTest::addColumn<QString>("format");
        for (const char *format : {"jsonl", "tsv", "txt", "csv", "xlsx"})
            QTest::newRow(format) << QString::fromLatin1(format);
    }
    void readRecords()
    {
        QFETCH(QString, format);
        QTemporaryDir dir;
        const QList<std::pair<QString, QByteArray>> files{
            {u"utf8.txt"_s, "Domain Name: b\xC3\xBC"
                            "cher.test\r\nRegistrar: Ex\xC3\xA4mple\r\n"
                            "Registry Expiry Date: 2031-02-03T04:05:06Z\r\n"
                            "Name Server: NS1.EXAMPLE.TEST\r\nName Server: ns2.example.test\r\n"
                            "Domain Status: ok https://icann.org/epp#ok\r\n"_ba},
            {u"latin1.txt"_s, "domain:      caf\xE9.test\nregistrar:   R\xE9gistre\n"
                              "expire:      2029-12-31\nnserver:     ns.caf\xE9.test\n"_ba},
            {u"rdap.json"_s,
             R"( {"objectClassName":"domain","ldhName":"example.test","status":["active"],
                "events":[{"eventAction":"expiration","eventDate":"2030-01-01T00:00:00Z"}],
                "nameservers":[{"objectClassName":"nameserver","ldhName":"NS1.EXAMPLE.TEST"}],
                "entities":[{"objectClassName":"entity","roles":["registrar"],"vcardArray":
                ["vcard",[["version",{},"text","4.0"],["fn",{},"text","RDAP Registrar"]]]}]})"_ba},
            {u"throttled.txt"_s, "% Query rate limit exceeded, try again later\r\n"
                                 "No match for \"x.test\".\r\n"_ba},
        };
        // Per file: status, registrar, expires, name servers (as a cell).
        const QList<QStringList> facts{
            {u"registered"_s, u"Ex\u00E4mple"_s, u"2031-02-03T04:05:06Z"_s,
             u"ns1.example.test ns2.example.test"_s},
            {u"registered"_s, u"R\u00E9gistre"_s, u"2029-12-31T00:00:00Z"_s,
             u"ns.caf\u00E9.test"_s},
            {u"registered"_s, u"RDAP Registrar"_s, u"2030-01-01T00:00:00Z"_s,
             u"ns1.example.test"_s},
            {u"throttled"_s, QString(), QString(), QString()},
        };
        QStringList arguments{u"--read-records"_s, u"-f"_s, format, u"--header"_s};
        for (const auto &[name, bytes] : files) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            arguments << file.fileName();
        }
        const QString xlsx = dir.filePath(u"out.xlsx"_s);
        if (format == u"xlsx"_s)
            arguments << u"-o"_s << xlsx;
        TestHttpServer server(serve);
        const Outcome outcome = Cli(server).run(arguments);
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        QVERIFY(server.targets.isEmpty());

        if (format == u"jsonl"_s) {
            const QJsonArray lines = pythonReads(JsonLinesReader, outcome.out).array();
            QCOMPARE(lines.size(), files.size());
            for (qsizetype i = 0; i < files.size(); ++i) {
                const QJsonObject line = lines[i].toObject();
                QCOMPARE(line[u"address"].toString(), dir.filePath(files[i].first));
                QCOMPARE(line[u"source"].toString(), i == 2 ? u"rdap"_s : u"whois"_s);
                QCOMPARE(line[u"status"].toString(), facts[i][0]);
                QCOMPARE(line[u"registrar"].toString(), facts[i][1]);
                QCOMPARE(line[u"expires"].toString(), facts[i][2]);
                QStringList nameServers;
                for (const QJsonValue &v : line[u"name_servers"].toArray())
                    nameServers << v.toString();
                QCOMPARE(nameServers.join(u' '), facts[i][3]);
                QCOMPARE(line.contains(u"registrar"), !facts[i][1].isEmpty()); // unknown: absent
                QVERIFY(!line.contains(u"error"));
                QCOMPARE(line[u"fields"].toArray().isEmpty(), i == 3); // a refusal has none
            }
            return;
        }
        // The table, caption row first.
        QList<QStringList> table;
        if (format == u"xlsx"_s) {
            const XlsxContents book = readXlsx(xlsx);
            QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
            for (int r = 1; r <= book.maxRow; ++r) {
                table.append(QStringList());
                for (int c = 1; c <= book.maxColumn; ++c)
                    table.last() << book.text(r, c);
            }
        } else {
            const QString &reader = format == u"csv"_s   ? CsvReader
                                    : format == u"txt"_s ? TxtReader
                                                         : TsvReader;
            for (const QJsonValue &row : pythonReads(reader, outcome.out).array())
                table.append(row.toVariant().toStringList());
        }
        QCOMPARE(table.size(), 1 + files.size());
        const QStringList captions = table[0];
        const QStringList summary = summaryCaptions();
        QCOMPARE(captions.mid(1, summary.size()), summary);
        QVERIFY(captions.contains(u"Domain Status (record)"_s));
        QStringList factCaptions{u"Status"_s, u"Registrar"_s, u"Expires"_s, u"Name Servers"_s};
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QStringList row = table[i + 1];
            QCOMPARE(row[0], dir.filePath(files[i].first));
            QStringList cells;
            for (const QString &caption : factCaptions)
                cells << row.value(captions.indexOf(caption));
            QCOMPARE(cells, facts[i]);
            // The escaped forms keep every row as wide as the captions.
            if (format != u"txt"_s)
                QCOMPARE(row.size(), captions.size());
        }
    }

    // A saved port-43 answer's notice lines give no fields unless --keep-notices asks for them;
    // its record's fields and facts are the same either way.
    void noticesOutOfTheFields_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::newRow("left out") << false;
        QTest::newRow("kept") << true;
    }
    void noticesOutOfTheFields()
    {
        QFETCH(bool, keep);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"answer.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "Domain Name: sample-shop.test\r\nRegistrar: Sample Registrar Inc.\r\n"
            "URL of the ICANN Whois Inaccuracy Complaint Form: https://icann.example/\r\n"
            ">>> Last update of whois database: 2014-01-02T03:04:05Z <<<\r\n\r\n"
            "For more information on Whois status codes, please visit https://x.example\r\n"
            "\r\nNOTICE: The expiration date displayed in this record is the date the\r\n"
            "registrar's sponsorship of the domain name registration in the registry is\r\n"
            "currently set to expire.\r\n\r\nVisit Sample Registrar at http://x.example\r\n");
        file.close();
        TestHttpServer server(serve);
        QStringList arguments{u"--read-records"_s, file.fileName(), u"-f"_s, u"jsonl"_s};
        if (keep)
            arguments << u"--keep-notices"_s;
        const Outcome outcome = Cli(server).run(arguments);
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        const QJsonObject line = QJsonDocument::fromJson(outcome.out).object();
        QStringList names;
        for (const QJsonValue &field : line[u"fields"].toArray())
            names << field[0].toString();
        QStringList expected{u"Domain Name"_s, u"Registrar"_s};
        if (keep)
            expected << u"URL of the ICANN Whois Inaccuracy Complaint Form"_s
                     << u">>> Last update of whois database"_s
                     << u"For more information on Whois status codes, please visit https"_s
                     << u"NOTICE"_s << u"Visit Sample Registrar at http"_s;
        QCOMPARE(names, expected);
        QCOMPARE(line[u"registrar"].toString(), u"Sample Registrar Inc."_s);
    }

    // txt is the window's text export of the same run: the window's run fills a pivot from the
    // same server, and the window's writer writes it. tsv (the default) is the same table with
    // its tabs and line ends escaped, LF ended.
    void txtIsTheWindowsExport_data()
    {
        QTest::addColumn<QStringList>("format");
        QTest::addColumn<TextFormat>("written");
        QTest::newRow("txt") << QStringList{u"-f"_s, u"txt"_s} << TextFormat::Tsv;
        QTest::newRow(".txt") << QStringList{u"-o"_s, u"out.txt"_s} << TextFormat::Tsv;
        QTest::newRow("default") << QStringList{} << TextFormat::EscapedTsv;
        QTest::newRow(".tsv") << QStringList{u"-o"_s, u"out.tsv"_s} << TextFormat::EscapedTsv;
        QTest::newRow("other extension")
            << QStringList{u"-o"_s, u"out.list"_s} << TextFormat::EscapedTsv;
    }
    void txtIsTheWindowsExport()
    {
        QFETCH(QStringList, format);
        QFETCH(TextFormat, written);
        TestHttpServer server(serve);
        const QStringList addresses{u"a.example"_s, u"fail.example"_s, u"extra.example"_s,
                                    u"b.example"_s};
        QTemporaryDir dir;
        const qsizetype output = format.indexOf(u"-o"_s);
        if (output >= 0)
            format[output + 1] = dir.filePath(format[output + 1]);
        Outcome outcome = Cli(server).run(QStringList{u"--delay"_s, u"0"_s} + format,
                                          addresses.join(u'\n').toUtf8());
        QCOMPARE(outcome.exitCode, 1);
        if (output >= 0) {
            QFile file(format[output + 1]);
            QVERIFY(file.open(QIODevice::ReadOnly));
            outcome.out = file.readAll();
        }

        qputenv("QUORVANE_SITE2_URL", (server.baseUrl() + u"/"_s).toUtf8());
        Pivot pivot;
        pivot.reset();
        RunOptions options;
        options.site = [] { return std::optional<Site>(Site::Option2); };
        options.delayText = [] { return u"0"_s; };
        LookupRun run(addresses, std::move(options));
        feedPivot(run, pivot);
        QSignalSpy finished(&run, &LookupRun::finished);
        run.start();
        QVERIFY(finished.wait(10000));
        QBuffer expected;
        expected.open(QIODevice::WriteOnly);
        QVERIFY(!writeTableText(pivot, expected, written, false));
        QCOMPARE(outcome.out, expected.data());
    }

    void csvReadBack()
    {
        TestHttpServer server(serve);
        // Addresses given on the command line carry what a list file cannot: line ends.
        const QStringList addresses{u"=cmd.example"_s, u"line\nfeed.example"_s,
                                    u"carriage\rreturn.example"_s, u"fail.example"_s};
        QStringList arguments{u"--delay"_s, u"0"_s, u"-f"_s, u"csv"_s};
        for (const QString &address : addresses)
            arguments << u"-a"_s << address;
        const Outcome outcome = Cli(server).run(arguments);
        QCOMPARE(outcome.exitCode, 1);
        const QJsonArray rows = pythonReads(CsvReader, outcome.out).array();
        QCOMPARE(rows.size(), 1 + addresses.size());
        const QJsonArray captions = rows[0].toArray();
        QCOMPARE(captions.size(), 5);
        QCOMPARE(captions[2].toString(), u"Name Server"_s);
        for (int i = 0; i < 3; ++i) {
            const QJsonArray row = rows[i + 1].toArray();
            QCOMPARE(row[0].toString(), addresses[i]);
            QCOMPARE(row[2].toString(), u"ns1.example\tns2.example"_s);
            QCOMPARE(row[3].toString(), u"say \"hi\""_s);
            QCOMPARE(row[4].toString(), u"=1+2"_s);
        }
        QCOMPARE(rows[4].toArray()[0].toString(), u"Invalid input: fail.example"_s);
        QCOMPARE(rows[4].toArray().size(), 5);
    }

    // A run killed outright, its last line torn, then resumed: every address once, every line
    // whole, in list order after the ones already written.
    void resumeAfterKill()
    {
        TestHttpServer server(serve);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.jsonl"_s);
        QByteArray list;
        QStringList expected;
        for (int i = 0; i < 8; ++i) {
            expected << u"slow%1.example"_s.arg(i);
            list += expected.last().toUtf8() + '\n';
        }
        list += "slow0.example\n"; // listed twice: looked up twice
        expected << u"slow0.example"_s;
        const QStringList arguments{u"--delay"_s, u"0"_s, u"-o"_s, path, u"--resume"_s};

        Cli first(server);
        first.start(arguments, list);
        const auto linesWritten = [&] {
            QFile out(path);
            return out.open(QIODevice::ReadOnly) ? out.readAll().count('\n') : 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(linesWritten() >= 3, 10000);
        first.signal(SIGKILL);
        QCOMPARE(first.finish().exitCode, -1);
        {
            QFile out(path);
            QVERIFY(out.open(QIODevice::Append));
            out.write("{\"address\":\"slow7.exa");
        }
        const Outcome second = Cli(server).run(arguments, list);
        QCOMPARE(second.exitCode, 0);
        QFile out(path);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray bytes = out.readAll();
        QVERIFY(bytes.endsWith('\n'));
        QStringList addresses = addressesOf(pythonReads(JsonLinesReader, bytes));
        QCOMPARE(addresses.size(), expected.size());
        addresses.sort();
        expected.sort();
        QCOMPARE(addresses, expected);
    }

    // --source whois through QUORVANE_CONNECT_TO: jsonl "servers" is the chain asked, IANA
    // once per TLD, --whois-server in IANA's place, --no-referrals stopping after one answer.
    void whoisChain_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<QList<int>>("queries"); // at IANA, the registry, the registrar
        const QString iana = u"whois.iana.org"_s, nic = u"whois.nic.tst"_s,
                      registrar = u"whois.registrar.tst"_s;
        QTest::newRow("IANA first")
            << QStringList{} << QStringList{iana, nic, registrar} << QList<int>{1, 2, 2};
        QTest::newRow("no referrals")
            << QStringList{u"--no-referrals"_s} << QStringList{iana, nic} << QList<int>{1, 2, 0};
        QTest::newRow("whois server") << QStringList{u"--whois-server"_s, nic}
                                      << QStringList{nic, registrar} << QList<int>{0, 2, 2};
        QTest::newRow("whois server alone")
            << QStringList{u"--whois-server"_s, nic, u"--no-referrals"_s} << QStringList{nic}
            << QList<int>{0, 2, 0};
    }

    void whoisChain()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, servers);
        QFETCH(QList<int>, queries);
        TestHttpServer site(serve);
        WhoisWorld world;
        const Outcome outcome =
            Cli(site, world.connectTo())
                .run(QStringList{u"--source"_s, u"whois"_s, u"-d"_s, u"0"_s, u"-f"_s, u"jsonl"_s} +
                         arguments,
                     "one.tst\ntwo.tst\n");
        QCOMPARE(outcome.exitCode, 0);
        const QJsonDocument lines = pythonReads(JsonLinesReader, outcome.out);
        QCOMPARE(addressesOf(lines), (QStringList{u"one.tst"_s, u"two.tst"_s}));
        for (const QJsonValue &line : lines.array()) {
            QCOMPARE(line[u"source"].toString(), u"whois"_s);
            QCOMPARE(line[u"servers"].toVariant().toStringList(), servers);
        }
        QCOMPARE((QList<int>{int(world.iana.queries.size()), int(world.registry.queries.size()),
                             int(world.registrar.queries.size())}),
                 queries);
    }

    // libcurl is loaded for a run that makes an HTTP transfer, and only for such a run.
    void httpLibraryOnlyForHttp_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("loaded");
        QTest::newRow("port 43") << QStringList{u"--source"_s, u"whois"_s} << false;
        QTest::newRow("a site") << QStringList{u"--source"_s, u"site2"_s} << true;
    }

    void httpLibraryOnlyForHttp()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, loaded);
        TestHttpServer site(serve);
        WhoisWorld world;
        Cli cli(site, world.connectTo());
        cli.setEnvironment(u"LD_DEBUG"_s, u"files"_s);
        const Outcome outcome = cli.run(arguments + QStringList{u"-d"_s, u"0"_s}, "one.tst\n");
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.err.contains("file=libcurl.so.4"), loaded);
    }

    void malformedConnectTo()
    {
        TestHttpServer site(serve);
        const Outcome outcome = Cli(site, u"whois.nic.tst:43:127.0.0.1"_s).run({}, "a.tst\n");
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.err.contains("QUORVANE_CONNECT_TO"));
    }

    // Two registries that take their time: with --parallel 1 the second is asked only after
    // the first has answered; with 2 both are asked at once.
    void parallel_data()
    {
        QTest::addColumn<QString>("parallel");
        QTest::addColumn<bool>("overlap");
        QTest::newRow("1") << u"1"_s << false;
        QTest::newRow("2") << u"2"_s << true;
    }

    void parallel()
    {
        QFETCH(QString, parallel);
        QFETCH(bool, overlap);
        TestHttpServer site(serve);
        constexpr int AnswerMs = 600;
        const auto slow = [](const QByteArray &name) {
            TestWhoisServer::Reply reply{"Domain Name: " + name + "\r\n"};
            reply.delayMs = AnswerMs;
            return reply;
        };
        WhoisWorld world;
        TestWhoisServer aa(slow), bb(slow);
        const QString connectTo = world.iana.mapping(u"whois.iana.org"_s) + u',' +
                                  aa.mapping(u"whois.nic.aa"_s) + u',' +
                                  bb.mapping(u"whois.nic.bb"_s);
        const Outcome outcome = Cli(site, connectTo)
                                    .run({u"--source"_s, u"whois"_s, u"-d"_s, u"0"_s, u"-p"_s,
                                          parallel, u"-f"_s, u"jsonl"_s},
                                         "x.aa\ny.bb\n");
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(aa.arrivals.size(), 1);
        QCOMPARE(bb.arrivals.size(), 1);
        const qint64 gap = qAbs(aa.arrivals[0] - bb.arrivals[0]);
        QVERIFY2(overlap ? gap < AnswerMs * 2 / 3 : gap >= AnswerMs,
                 qPrintable(QString::number(gap)));
    }

    // A list longer than the run's window, streamed from standard input in pieces (lines cut
    // between reads): every address once, in order. Then a resume (from a list file) of a run
    // cut off part way skips what was written as the list streams by: the output ends as the
    // whole run's did.
    void streamedInput()
    {
        TestHttpServer site(serve);
        WhoisWorld world;
        QByteArray list;
        QStringList expected;
        for (int i = 0; i < 25000; ++i) {
            // Mostly invalid addresses (refused before any server), now and then a real one.
            expected << (i % 1000 == 7 ? u"ok%1.tst"_s.arg(i) : u"bad name %1"_s.arg(i));
            list += expected.last().toUtf8() + (i % 3 ? "\n" : "\r\n");
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.jsonl"_s);
        const QStringList arguments{u"--source"_s,
                                    u"whois"_s,
                                    u"--whois-server"_s,
                                    u"whois.nic.tst"_s,
                                    u"--no-referrals"_s,
                                    u"-d"_s,
                                    u"0"_s,
                                    u"-o"_s,
                                    path,
                                    u"--resume"_s};
        QCOMPARE(Cli(site, world.connectTo()).run(arguments, list).exitCode, 1);
        QFile out(path);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray whole = out.readAll();
        out.close();
        QCOMPARE(addressesOf(pythonReads(JsonLinesReader, whole)), expected);
        QCOMPARE(world.registry.queries.size(), 25);

        // Cut off after 12,000 lines and half of the next.
        qsizetype cut = 0;
        for (int i = 0; i < 12000; ++i)
            cut = whole.indexOf('\n', cut) + 1;
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(whole.left(cut + 20));
        out.close();
        // This time the list is a regular file, read a block at a time as the run needs it.
        QFile listFile(dir.filePath(u"list.txt"_s));
        QVERIFY(listFile.open(QIODevice::WriteOnly) && listFile.write(list) == list.size());
        listFile.close();
        QCOMPARE(
            Cli(site, world.connectTo()).run(arguments + QStringList{listFile.fileName()}).exitCode,
            1);
        QVERIFY(out.open(QIODevice::ReadOnly));
        // The same lines; only the times they were asked at may differ.
        const auto timeless = [](QByteArray lines) {
            static const QRegularExpression askedAt(u"\"asked_at\":\"[^\"]*\","_s);
            return QString::fromUtf8(lines).remove(askedAt);
        };
        QCOMPARE(timeless(out.readAll()), timeless(whole));
        QCOMPARE(world.registry.queries.size(), 25 + 13);
    }

    // SIGINT while a slow page is awaited: the finished lookups are written, at once.
    void interrupt_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("lines");
        QTest::newRow("jsonl") << u"jsonl"_s << 2;
        QTest::newRow("tsv") << u"tsv"_s << 2;
    }

    void interrupt()
    {
        QFETCH(QString, format);
        QFETCH(int, lines);
        TestHttpServer server([](const QByteArray &target) {
            TestHttpServer::Response response = serve(target);
            response.hang = target.contains("hang.");
            return response;
        });
        Cli cli(server);
        cli.start({u"--delay"_s, u"0"_s, u"-f"_s, format},
                  "a.example\nb.example\nhang.example\nc.example\n");
        QTRY_COMPARE_WITH_TIMEOUT(server.targets.size(), 3, 10000);
        QElapsedTimer clock;
        clock.start();
        cli.signal(SIGINT);
        const Outcome outcome = cli.finish();
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(outcome.exitCode, 130);
        QCOMPARE(outcome.out.count('\n'), lines);
        QVERIFY(outcome.out.contains("b.example"));
    }

    // Answers kept and reused: within --max-age no server is asked and the lines say so;
    // --no-store asks and keeps nothing; a failed answer is asked again.
    void storeReuse_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("asked");      // ok.tst queries at the registry, second run
        QTest::addColumn<bool>("fromStore"); // the second run's ok.tst line
        QTest::newRow("always ask") << QStringList{} << 1 << false;
        QTest::newRow("young enough") << QStringList{u"--max-age"_s, u"1h"_s} << 0 << true;
        QTest::newRow("too old") << QStringList{u"--max-age"_s, u"1s"_s} << 1 << false;
        QTest::newRow("another store")
            << QStringList{u"--max-age"_s, u"1h"_s, u"--store"_s, u"%OTHER%"_s} << 1 << false;
    }
    void storeReuse()
    {
        QFETCH(QStringList, extra);
        QFETCH(int, asked);
        QFETCH(bool, fromStore);
        TestHttpServer site(serve);
        StoreWorld world;
        QTemporaryDir dir;
        const QStringList run = StoreWorld::arguments(testStore(dir, u"answers"_s));
        extra.replaceInStrings(u"%OTHER%"_s, testStore(dir, u"other"_s));
        const Outcome first = Cli(site, world.connectTo()).run(run, "ok.tst\nfail.tst\n");
        QCOMPARE(first.exitCode, 1);
        const QJsonArray firstLines = pythonReads(JsonLinesReader, first.out).array();
        QTest::qWait(1100); // older than 1s
        world.registry.queries.clear();
        const Outcome second = Cli(site, world.connectTo()).run(run + extra, "OK.tst\nfail.tst\n");
        QCOMPARE(second.exitCode, 1);
        QVERIFY2(second.err.isEmpty(), second.err.constData());
        const auto okQueries = [&] {
            return std::count_if(world.registry.queries.begin(), world.registry.queries.end(),
                                 [](const QByteArray &q) { return q.toLower().startsWith("ok."); });
        };
        QCOMPARE(okQueries(), asked);
        QVERIFY(world.registry.queries.size() > asked); // fail.tst asked again
        const QJsonArray lines = pythonReads(JsonLinesReader, second.out).array();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0][u"address"].toString(), u"OK.tst"_s); // as typed this time
        QCOMPARE(lines[0][u"from_store"].toBool(), fromStore);
        QCOMPARE(lines[0][u"asked_at"] == firstLines[0][u"asked_at"], fromStore);
        QCOMPARE(lines[0][u"registrar"].toString(), u"First Registrar"_s);
        QCOMPARE(lines[1][u"from_store"].toBool(), false); // a failure is never reused

        // Neither read nor written.
        world.registry.queries.clear();
        QTemporaryDir none;
        const Outcome bare = Cli(site, world.connectTo())
                                 .run(StoreWorld::arguments(none.filePath(u"s"_s)).mid(0, 10) +
                                          QStringList{u"--no-store"_s},
                                      "ok.tst\n");
        QCOMPARE(bare.exitCode, 0);
        QCOMPARE(okQueries(), 1);
        QVERIFY(QDir(none.path()).isEmpty());
    }

    // A registrar transfer and a renewal between two runs: the sub-commands read them back,
    // asking no server.
    void storeCommands()
    {
        TestHttpServer site(serve);
        StoreWorld world;
        QTemporaryDir dir;
        const QString store = testStore(dir, u"answers"_s);
        const QByteArray list = "a.tst\nb.tst\n";
        const QString soonExpiry =
            QDateTime::currentDateTimeUtc().addDays(10).toString(Qt::ISODate);
        world.expires = soonExpiry.toUtf8();
        QCOMPARE(Cli(site, world.connectTo()).run(StoreWorld::arguments(store), list).exitCode, 0);
        // The same answers again (another stamp) a second later: nothing new.
        QTest::qWait(1100);
        QCOMPARE(Cli(site, world.connectTo()).run(StoreWorld::arguments(store), list).exitCode, 0);
        world.registrar = "Second Registrar";
        const QByteArray renewed = "2031-06-01T00:00:00Z";
        const Outcome third =
            Cli(site, world.connectTo()).run(StoreWorld::arguments(store), "a.tst\n");
        QCOMPARE(pythonReads(JsonLinesReader, third.out)[0][u"changed"].toArray(),
                 (QJsonArray{u"registrar"_s}));
        world.expires = renewed;
        Cli(site, world.connectTo()).run(StoreWorld::arguments(store), "b.tst\n");
        const qsizetype asked = world.registry.queries.size();

        const auto command = [&](const QStringList &arguments) {
            return Cli(site).run(arguments + QStringList{u"--store"_s, store});
        };
        const Outcome changes = command({u"changes"_s, u"-f"_s, u"csv"_s});
        QCOMPARE(changes.exitCode, 0);
        const QJsonArray rows = pythonReads(CsvReader, changes.out).array();
        QCOMPARE(rows.size(), 4); // a: registrar; b: registrar and expires
        QCOMPARE(rows[0].toVariant().toStringList(),
                 (QStringList{u"Address"_s, u"Source"_s, u"Fact"_s, u"Before"_s, u"After"_s,
                              u"Seen At"_s}));
        QCOMPARE(rows[1].toVariant().toStringList().mid(0, 5),
                 (QStringList{u"a.tst"_s, u"whois"_s, u"registrar"_s, u"First Registrar"_s,
                              u"Second Registrar"_s}));
        QCOMPARE(rows[3].toVariant().toStringList().mid(0, 5),
                 (QStringList{u"b.tst"_s, u"whois"_s, u"expires"_s, soonExpiry,
                              QString::fromLatin1(renewed)}));
        // Of one address, since a date; since a time to come: none.
        QCOMPARE(command({u"changes"_s, u"b.tst"_s, u"--since"_s, u"2000-01-01"_s}).out.count('\n'),
                 2);
        QCOMPARE(command({u"changes"_s, u"--since"_s, u"2999-01-01T00:00:00Z"_s}).out.count('\n'),
                 0);

        const Outcome history = command({u"history"_s, u"a.tst"_s, u"-f"_s, u"jsonl"_s});
        QCOMPARE(history.exitCode, 0);
        const QJsonArray answers = pythonReads(JsonLinesReader, history.out).array();
        QCOMPARE(answers.size(), 2); // the repeated answer only moved the first one's time
        QCOMPARE(answers[0][u"registrar"].toString(), u"First Registrar"_s);
        QVERIFY(answers[0][u"last_seen"].toString() > answers[0][u"asked_at"].toString());
        QCOMPARE(answers[1][u"changed"].toArray(), (QJsonArray{u"registrar"_s}));

        // a.tst expires in ten days, b.tst was renewed.
        const Outcome soon = command({u"expiring"_s, u"--within"_s, u"30d"_s, u"--fail-if-any"_s});
        QCOMPARE(soon.exitCode, 1);
        QVERIFY(soon.out.startsWith(QByteArray("a.tst\t" + soonExpiry.toUtf8())));
        QCOMPARE(soon.out.count('\n'), 1);
        // An address named on the command line is shown as written there.
        QVERIFY(command({u"expiring"_s, u"--within"_s, u"30d"_s, u"A.Tst"_s})
                    .out.startsWith("A.Tst\t"));
        const Outcome none = command({u"expiring"_s, u"--within"_s, u"2d"_s, u"--fail-if-any"_s});
        QCOMPARE(none.exitCode, 0);
        QVERIFY(none.out.isEmpty());

        const Outcome latest = command({u"latest"_s, u"-f"_s, u"jsonl"_s});
        QCOMPARE(latest.exitCode, 0);
        const QJsonArray kept = pythonReads(JsonLinesReader, latest.out).array();
        QCOMPARE(addressesOf(QJsonDocument(kept)), (QStringList{u"a.tst"_s, u"b.tst"_s}));
        QCOMPARE(kept[0][u"registrar"].toString(), u"Second Registrar"_s);
        QCOMPARE(kept[1][u"expires"].toString(), QString::fromLatin1(renewed));
        QVERIFY(kept[1][u"from_store"].toBool());
        const Outcome missing = command({u"latest"_s, u"a.tst"_s, u"c.tst"_s});
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.out.count('\n'), 1);
        QVERIFY(missing.err.contains("c.tst"));
        QCOMPARE(world.registry.queries.size(), asked); // no server asked by any of them
    }

    // A store that cannot be used: said once, every address still looked up and written, the
    // exit code what it would be without a store; a store refused is left as it was.
    void storeFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("words");
        QTest::newRow("read-only") << u"read-only"_s << u"read-only"_s;
        QTest::newRow("disk full") << u"full"_s << u"disk is full"_s;
        QTest::newRow("cannot be made") << u"under a file"_s << u"cannot be made"_s;
        QTest::newRow("not a database") << u"garbage"_s << u"not an SQLite database"_s;
        QTest::newRow("newer version") << u"newer"_s << u"newer version"_s;
        QTest::newRow("symbolic link") << u"link"_s << u"symbolic link"_s;
    }
    void storeFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, words);
        TestHttpServer site(serve);
        StoreWorld world;
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"store"_s);
        QVERIFY(QDir().mkpath(folder));
        QString store = folder + u"/answers.sqlite"_s;
        QByteArray list;
        for (int i = 0; i < 3000; ++i)
            list += "name" + QByteArray::number(i) + ".tst\n";
        Cli cli(site, world.connectTo());
        if (fault == u"read-only"_s) {
            QCOMPARE(
                Cli(site, world.connectTo()).run(StoreWorld::arguments(store), "x.tst\n").exitCode,
                0);
            if (canConfine())
                cli.confine(u"mount --bind %1 %1 && mount -o remount,bind,ro %1"_s.arg(folder));
            else if (::geteuid() != 0)
                QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
            else
                QSKIP("root without a mount namespace: nothing here is read-only");
        } else if (fault == u"full"_s) {
            if (!canConfine())
                QSKIP("no mount namespace for a small file system");
            cli.confine(u"mount -t tmpfs -o size=160k tmpfs %1"_s.arg(folder));
        } else if (fault == u"under a file"_s) {
            QFile plain(folder + u"/plain"_s);
            QVERIFY(plain.open(QIODevice::WriteOnly));
            store = folder + u"/plain/answers.sqlite"_s;
        } else if (fault == u"garbage"_s) {
            QFile file(store);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(8192, 'x'));
        } else if (fault == u"newer"_s) {
            QProcess sqlite;
            sqlite.start(u"python3"_s, {u"-c"_s,
                                        u"import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); "
                                        "c.execute('create table answers(x)'); "
                                        "c.execute('pragma user_version=42'); c.commit()"_s,
                                        store});
            QVERIFY(sqlite.waitForFinished() && sqlite.exitCode() == 0);
        } else if (fault == u"link"_s) {
            QVERIFY(QFile::link(dir.filePath(u"elsewhere"_s), store));
        }
        const auto bytes = [](const QString &path) {
            QFile file(path);
            return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll()
                                                                              : QByteArray();
        };
        const QByteArray before = bytes(store);
        cli.start(StoreWorld::arguments(store) + QStringList{u"--max-age"_s, u"1h"_s}, list);
        const Outcome outcome = cli.finish();
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        QCOMPARE(outcome.out.count('\n'), 3000);
        QVERIFY2(outcome.err.count('\n') == 1, outcome.err.constData());
        QVERIFY2(outcome.err.contains(words.toUtf8()), outcome.err.constData());
        if (fault != u"read-only"_s && fault != u"full"_s)
            QCOMPARE(bytes(store), before);
        QVERIFY(!QFile::exists(dir.filePath(u"elsewhere"_s)));
    }

    // Two processes write one store at once: every answer of both is kept.
    void twoProcesses()
    {
        TestHttpServer site(serve);
        StoreWorld world;
        QTemporaryDir dir;
        const QString store = dir.filePath(u"answers.sqlite"_s);
        QByteArray lists[2];
        for (int i = 0; i < 1500; ++i) {
            lists[0] += "a" + QByteArray::number(i) + ".tst\n";
            lists[1] += "b" + QByteArray::number(i) + ".tst\n";
        }
        Cli one(site, world.connectTo()), two(site, world.connectTo());
        one.start(StoreWorld::arguments(store), lists[0]);
        two.start(StoreWorld::arguments(store), lists[1]);
        const Outcome a = one.finish(), b = two.finish();
        QVERIFY2(a.exitCode == 0 && b.exitCode == 0, QByteArray(a.err + b.err).constData());
        QVERIFY2(a.err.isEmpty() && b.err.isEmpty(), QByteArray(a.err + b.err).constData());
        const Outcome latest =
            Cli(site).run({u"latest"_s, u"--store"_s, store, u"-f"_s, u"jsonl"_s});
        QCOMPARE(latest.out.count('\n'), 3000);
    }

    // Killed outright during a run: the store opens afterwards with what was written, and the
    // next run keeps every answer.
    void killDuringRun()
    {
        TestHttpServer site(serve);
        StoreWorld world;
        QTemporaryDir dir;
        const QString store = dir.filePath(u"answers.sqlite"_s);
        QByteArray list;
        for (int i = 0; i < 400; ++i)
            list += "k" + QByteArray::number(i) + ".tst\n";
        // One answer at a time (one server), slowly enough that the kill finds the run under way.
        world.delayMs = 10;
        Cli first(site, world.connectTo());
        first.start(StoreWorld::arguments(store), list);
        QTRY_VERIFY_WITH_TIMEOUT(world.registry.queries.size() >= 100, 20000);
        QTest::qWait(1200); // the answers of a second ago have been written since
        const qsizetype answered = world.registry.queries.size();
        QVERIFY(answered < 400);
        first.signal(SIGKILL);
        QCOMPARE(first.finish().exitCode, -1);
        world.delayMs = 0;

        const Outcome kept = Cli(site).run({u"latest"_s, u"--store"_s, store});
        QCOMPARE(kept.exitCode, 0);
        QVERIFY2(kept.out.count('\n') >= 100 && kept.out.count('\n') <= answered,
                 qPrintable(QString::number(kept.out.count('\n'))));
        QCOMPARE(Cli(site, world.connectTo()).run(StoreWorld::arguments(store), list).exitCode, 0);
        QCOMPARE(Cli(site).run({u"latest"_s, u"--store"_s, store}).out.count('\n'), 400);
    }

    // The jsonl writer lays out JSON itself: each string as QJsonDocument wrote it before.
    // The times the lines write are QDateTime's ISO form of the instant in UTC, to the second.
    void utcText_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::newRow("epoch") << qint64(0);
        QTest::newRow("a second's last millisecond") << qint64(1700000000999);
        QTest::newRow("leap day")
            << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC).toMSecsSinceEpoch();
        QTest::newRow("new year")
            << QDateTime(QDate(2100, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        QTest::newRow("last year of four digits")
            << QDateTime(QDate(9999, 12, 31), QTime(12, 34, 56), Qt::UTC).toMSecsSinceEpoch();
        QTest::newRow("five digits")
            << QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        QTest::newRow("before 1970") << qint64(-1500);
    }
    void utcText()
    {
        QFETCH(qint64, ms);
        QCOMPARE(JsonLine::utcText(ms),
                 QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate));
    }

    void jsonStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << u"example.com"_s;
        QTest::newRow("quote and backslash") << u"say \"hi\" \\ there"_s;
        QTest::newRow("control characters")
            << QString::fromUtf16(u"\u0001\b\f\n\r\t\u001f\u007f end");
        QTest::newRow("beyond ASCII") << QString::fromUtf16(u"b\u00fccher \u20ac \U0001D11E");
        QTest::newRow("lone high surrogate") << QString(QChar(0xD834)) + u"x"_s;
        QTest::newRow("lone low surrogate") << u"x"_s + QChar(0xDD1E);
        QTest::newRow("high surrogate last") << u"x"_s + QChar(0xD834);
        QTest::newRow("two high surrogates")
            << QString(QChar(0xD834)) + QChar(0xD834) + QChar(0xDD1E);
        QTest::newRow("byte-order mark first") << QString(QChar(0xFEFF)) + u"a"_s;
        QTest::newRow("line separator") << QString(QChar(0x2028));
        // Runs of plain ASCII are taken eight characters at a time: each kind of character that
        // ends a run, at every place of a block.
        QString runs;
        for (const QChar c : {QChar(u'"'), QChar(u'\\'), QChar(0x1f), QChar(0x7f), QChar(0xe9),
                              QChar(0x20ac), QChar(0xfffd)}) {
            for (int at = 0; at < 9; ++at)
                runs += QString(at, u'a') + c + QString(8 - at, u'b');
        }
        QTest::newRow("runs ended at every place") << runs;
    }
    void jsonStrings()
    {
        QFETCH(QString, text);
        const auto qt = [](const QString &value) {
            return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        };
        QByteArray ours = "[";
        JsonLine::appendString(ours, text);
        QCOMPARE(ours + "]", qt(text));
        // The fields are written from their UTF-8, as the text they are.
        ours = "[";
        JsonLine::appendUtf8String(ours, text.toUtf8());
        QCOMPARE(ours + "]", qt(textFromUtf8(text.toUtf8())));
    }

    // Fields carry the record's bytes; what is not UTF-8 reads as U+FFFD, as text would.
    void jsonUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("valid") << "b\xc3\xbc"
                                  "cher\t\"x\""_ba;
        QTest::newRow("stray continuation byte") << "a\x80z"_ba;
        QTest::newRow("cut sequence at the end") << "a\xc3"_ba;
        QTest::newRow("encoded surrogate") << "a\xed\xa0\x80z"_ba;
        QTest::newRow("overlong slash") << "a\xc0\xafz"_ba;
        QTest::newRow("byte-order mark kept") << "\xef\xbb\xbf"
                                                 "a"_ba;
        // Long runs are scanned eight bytes at a time: a byte to escape in any place of a word,
        // and bytes just beside the ones that need an escape.
        for (const char special : {'"', '\\', '\x01', '\x1f', '\n'}) {
            for (const int at : {0, 7, 8, 13, 23, 37}) {
                QByteArray bytes = "Registrant Street: 12 Harbour Walk ! # [ ] \xc3\xbc";
                bytes[at] = special;
                QTest::addRow("byte %d at %d of a long run", int(special), at) << bytes;
            }
        }
        QTest::newRow("long run, nothing to escape")
            << QByteArray(40, '~') + " !#[]\x7f\xe2\x82\xac" + QByteArray(9, ' ');
    }
    void jsonUtf8()
    {
        QFETCH(QByteArray, bytes);
        QByteArray ours = "[";
        JsonLine::appendUtf8String(ours, bytes);
        QCOMPARE(ours + "]",
                 QJsonDocument(QJsonArray{textFromUtf8(bytes)}).toJson(QJsonDocument::Compact));
    }

    // A line's fields are pieces of one buffer, checked as UTF-8 once: a piece cut inside a
    // character of valid text, and any piece of text that is not valid, reads as it would alone.
    void jsonlFieldPieces()
    {
        const QByteArray valid = "a\xc3\xbc"
                                 "b\xe2\x82\xac";
        const QByteArray invalid = "a\xc3\xbc"
                                   "b\xff\xe2\x82\xac";
        for (const QByteArray &buffer : {valid, invalid}) {
            for (qsizetype begin = 0; begin < buffer.size(); ++begin) {
                for (qsizetype end = begin; end <= buffer.size(); ++end) {
                    LookupResult result;
                    result.fields = RecordFields(buffer);
                    result.fields.appendPiece(0, 0, begin, end);
                    const QByteArray line = JsonLine::format(result);
                    QByteArray alone = "[\"\",";
                    JsonLine::appendUtf8String(alone,
                                               QByteArrayView(buffer).sliced(begin, end - begin));
                    const QByteArray expected = "\"fields\":[" + alone + "]]}\n";
                    QVERIFY2(line.endsWith(expected), line.constData());
                }
            }
        }
    }

    // A line's keys in reading order, its values what the document-object writer gave.
    void jsonlKeyOrder_data()
    {
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QStringList>("keys");
        // An answer from the store says when it was given and what changed.
        QTest::newRow("record") << false
                                << QStringList{u"address"_s,       u"source"_s,  u"status"_s,
                                               u"registrar"_s,     u"expires"_s, u"name_servers"_s,
                                               u"domain_status"_s, u"servers"_s, u"asked_at"_s,
                                               u"from_store"_s,    u"changed"_s, u"fields"_s};
        // A failed lookup's reason comes right after its status, before any other fact.
        QTest::newRow("failed") << true
                                << QStringList{u"address"_s,    u"source"_s,    u"status"_s,
                                               u"error"_s,      u"registrar"_s, u"servers"_s,
                                               u"from_store"_s, u"fields"_s};
    }
    void jsonlKeyOrder()
    {
        QFETCH(bool, failed);
        QFETCH(QStringList, keys);
        LookupResult result;
        result.address = u"example.test"_s;
        result.source = SourceKind::Whois;
        result.servers = QStringList{u"whois.iana.org"_s, u"whois.nic.test"_s};
        if (failed) {
            setFailure(result, FailureReason::Timeout, u"whois.nic.test took too long"_s);
            result.facts.registrar = u"Example"_s;
        } else {
            setTextRecord(
                result, {u"Domain Name: example.test"_s, u"Registrar: Ex\u00e4mple"_s,
                         u"Name Server: ns1.example.test"_s, u"Name Server: ns2.example.test"_s,
                         u"Registry Expiry Date: 2031-02-03T04:05:06Z"_s, u"Domain Status: ok"_s});
            result.askedAtMs = 1'700'000'000'000;
            result.fromStore = true;
            result.changed = QStringList{u"registrar"_s, u"expires"_s};
        }
        const QByteArray line = JsonLine::format(result);
        QVERIFY(line.endsWith("}\n") && line.count('\n') == 1);
        const QJsonArray read =
            pythonReads(u"import json, sys\n"
                        "print(json.dumps([list(json.loads(l).keys()) for l in sys.stdin]))"_s,
                        line)
                .array();
        QCOMPARE(read.size(), 1);
        QCOMPARE(read[0].toVariant().toStringList(), keys);

        QJsonObject expected{{u"address"_s, result.address},
                             {u"source"_s, u"whois"_s},
                             {u"servers"_s, QJsonArray::fromStringList(result.servers)}};
        for (const FactColumn &column : factColumns()) {
            const QJsonValue value = column.json(result.facts);
            if (!(value.isArray() ? value.toArray().isEmpty() : value.toString().isEmpty()))
                expected.insert(QLatin1String(column.jsonKey), value);
        }
        if (failed)
            expected.insert(u"error"_s, result.error);
        QJsonArray fields;
        for (const RecordField &field : result.fields.toList())
            fields.append(QJsonArray{field.name, field.value});
        expected.insert(u"fields"_s, fields);
        expected.insert(u"from_store"_s, !failed);
        if (!failed) {
            expected.insert(u"asked_at"_s, u"2023-11-14T22:13:20Z"_s);
            expected.insert(u"changed"_s, QJsonArray{u"registrar"_s, u"expires"_s});
        }
        QCOMPARE(QJsonDocument::fromJson(line).object(), expected);
    }

    void normalizedAddress_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("argumentIsAddress");
        QTest::newRow("as it is") << u"example.com"_s << u"example.com"_s << true;
        QTest::newRow("spaces and trailing dot")
            << u" \texample.com. "_s << u"example.com"_s << true;
        QTest::newRow("web address")
            << u"https://Example.COM/path?q=1#top"_s << u"example.com"_s << true;
        QTest::newRow("web address with user and port")
            << u"http://user@example.org:8080/"_s << u"example.org"_s << true;
        QTest::newRow("IPv6 web address")
            << u"http://[2001:db8::1]/x"_s << u"2001:db8::1"_s << true;
        QTest::newRow("network") << u"192.0.2.0/24"_s << u"192.0.2.0/24"_s << true;
        QTest::newRow("AS number") << u"AS64496"_s << u"AS64496"_s << true;
        QTest::newRow("root dot alone") << u"."_s << u"."_s << false;
        QTest::newRow("two dots kept") << u"example.."_s << u"example.."_s << false;
        QTest::newRow("list file name") << u"domains.txt"_s << u"domains.txt"_s << false;
        QTest::newRow("compressed list") << u"list.gz"_s << u"list.gz"_s << false;
        QTest::newRow("text with spaces") << u"not an address"_s << u"not an address"_s << false;
        QTest::newRow("path") << u"lists/today"_s << u"lists/today"_s << false;
    }
    void normalizedAddress()
    {
        QFETCH(QString, given);
        QFETCH(QString, asked);
        QFETCH(bool, argumentIsAddress);
        QCOMPARE(CliArguments::normalizedAddress(given), asked);
        QCOMPARE(CliArguments::argumentIsAddress(given), argumentIsAddress);
    }

    void parallelWithinDescriptors_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("open");
        QTest::addColumn<int>("perServer");
        QTest::addColumn<int>("parallel");
        QTest::newRow("room for all") << 8 << 1024 << 10 << 4 << 8;
        QTest::newRow("256 files") << 1000 << 256 << 10 << 4 << (256 - 10 - 64) / 4;
        QTest::newRow("256 files, one each") << 1000 << 256 << 10 << 1 << 256 - 10 - 64;
        QTest::newRow("many open already") << 1000 << 256 << 150 << 4 << (256 - 150 - 64) / 4;
        QTest::newRow("no room at all") << 1000 << 64 << 10 << 1 << 1;
        QTest::newRow("no limit") << 1000 << -1 << 10 << 4 << 1000;
    }
    void parallelWithinDescriptors()
    {
        QFETCH(int, requested);
        QFETCH(int, limit);
        QFETCH(int, open);
        QFETCH(int, perServer);
        QFETCH(int, parallel);
        QCOMPARE(DescriptorBudget::parallelWithin(requested, limit, open, perServer), parallel);
    }

    // The summary line: counts by status in their order, the failed ones' commonest reasons.
    void summaryText_data()
    {
        QTest::addColumn<QStringList>("outcomes"); // status, or failed:<detail>
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("unanswered");
        QTest::newRow("answered") << QStringList{u"available"_s, u"registered"_s, u"registered"_s}
                                  << u"3 lookups in 2.0 s (1.50/s): 2 registered, 1 available"_s
                                  << 0;
        QTest::newRow("failures by reason")
            << QStringList{u"registered"_s, u"failed:timeout"_s, u"throttled"_s,
                           u"failed:whois.nic.test: Connection refused"_s, u"failed:timeout"_s}
            << u"5 lookups in 2.0 s (2.50/s): 1 registered, 1 throttled, 3 failed "
               "(2 timeout, 1 Connection refused)"_s
            << 4;
        QTest::newRow("invalid") << QStringList{u"invalid"_s}
                                 << u"1 lookup in 2.0 s (0.50/s): 1 invalid"_s << 1;
    }
    void summaryText()
    {
        QFETCH(QStringList, outcomes);
        QFETCH(QString, text);
        QFETCH(int, unanswered);
        RunSummary summary;
        for (const QString &outcome : outcomes) {
            LookupResult result;
            if (outcome == u"timeout"_s || outcome.startsWith(u"failed:"_s)) {
                const QString detail = outcome.mid(7);
                if (detail == u"timeout"_s)
                    setFailure(result, FailureReason::Timeout);
                else
                    setFailure(result, FailureReason::NoAnswer, detail);
            } else if (outcome == u"throttled"_s) {
                setFailure(result, FailureReason::Throttled, u"by whois.nic.test"_s);
            } else if (outcome == u"invalid"_s) {
                setFailure(result, FailureReason::InvalidAddress, u"empty label"_s);
            } else {
                result.facts.status =
                    outcome == u"available"_s ? RecordStatus::Available : RecordStatus::Registered;
            }
            summary.add(result);
        }
        QCOMPARE(summary.text(2.0), text);
        QCOMPARE(summary.unanswered(), unanswered);
    }

    // Exit codes of runs that did their lookups: 0 when every lookup was answered, 1 when some
    // were not, 4 when no server could be reached at all.
    void lookupExitCodes_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("ianaReachable");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("every lookup answered") << u"a.tst\nb.tst\n"_s << true << 0;
        QTest::newRow("one registry unreachable") << u"a.tst\nb.dead\n"_s << true << 1;
        QTest::newRow("a line that is no address") << u"a.tst\na b\n"_s << true << 1;
        QTest::newRow("every registry unreachable") << u"a.dead\nb.dead\n"_s << true << 1;
        QTest::newRow("no server reachable") << u"a.tst\nb.dead\n"_s << false << 4;
        QTest::newRow("nothing but bad lines") << u"a b\n"_s << false << 1;
    }
    void lookupExitCodes()
    {
        QFETCH(QString, list);
        QFETCH(bool, ianaReachable);
        QFETCH(int, exitCode);
        TestHttpServer site(serve);
        Registries world;
        world.add(u"tst"_s);
        QString connectTo = world.connectTo({u"dead"_s});
        if (!ianaReachable)
            connectTo.replace(QString::number(world.iana.port()),
                              QString::number(Registries::closedPort()));
        const Outcome outcome =
            Cli(site, connectTo)
                .run({u"--source"_s, u"whois"_s, u"-d"_s, u"0"_s, u"-f"_s, u"jsonl"_s},
                     list.toUtf8());
        QVERIFY2(outcome.exitCode == exitCode, outcome.err.constData());
        QCOMPARE(outcome.out.count('\n'), list.count(u'\n'));
    }

    // A resumed run counts what the file already holds: a failed, throttled or invalid line
    // makes it end with 1 (nothing left to ask). --retry-failed asks the failed and throttled
    // ones again and takes their old lines out; an invalid address stays as it was.
    void resumeOverFailures_data()
    {
        const QByteArray answered =
            R"({"address":"a.tst","source":"whois","status":"registered","servers":[],"fields":[]})";
        const QByteArray failed =
            R"({"address":"b.tst","source":"whois","status":"failed","error":"timeout","servers":[],"fields":[]})";
        const QByteArray throttled =
            R"({"address":"b.tst","source":"whois","status":"throttled","error":"throttled: by whois.nic.tst","servers":[],"fields":[]})";
        const QByteArray invalid =
            R"({"address":"b b","source":"whois","status":"invalid","error":"not a domain name","servers":[],"fields":[]})";
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("retry");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("asked");
        QTest::newRow("all answered") << answered + '\n' << u"a.tst\n"_s << false << 0 << 0;
        QTest::newRow("a failed line") << answered + '\n' + failed + '\n'
                                       << u"a.tst\nb.tst\n"_s << false << 1 << 0;
        QTest::newRow("a throttled line") << answered + '\n' + throttled + '\n'
                                          << u"a.tst\nb.tst\n"_s << false << 1 << 0;
        QTest::newRow("an invalid line") << invalid + '\n' + answered + '\n'
                                         << u"b b\na.tst\n"_s << false << 1 << 0;
        QTest::newRow("failed line retried") << failed + '\n' + answered + '\n'
                                             << u"b.tst\na.tst\n"_s << true << 0 << 1;
        QTest::newRow("throttled line retried") << answered + '\n' + throttled + '\n'
                                                << u"a.tst\nb.tst\n"_s << true << 0 << 1;
        QTest::newRow("invalid line kept") << invalid + '\n' + answered + '\n'
                                           << u"b b\na.tst\n"_s << true << 1 << 0;
    }
    void resumeOverFailures()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, list);
        QFETCH(bool, retry);
        QFETCH(int, exitCode);
        QFETCH(int, asked);
        TestHttpServer site(serve);
        Registries world;
        TestWhoisServer &registry = world.add(u"tst"_s);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.jsonl"_s);
        writeFile(path, file);
        QStringList arguments{u"--source"_s, u"whois"_s, u"-d"_s,      u"0"_s,
                              u"-o"_s,       path,       u"--resume"_s};
        if (retry)
            arguments << u"--retry-failed"_s;
        const Outcome outcome = Cli(site, world.connectTo()).run(arguments, list.toUtf8());
        QVERIFY2(outcome.exitCode == exitCode, outcome.err.constData());
        QCOMPARE(registry.queries.size(), asked);
        // Every address of the list once, answered where it could be.
        const QJsonArray lines = pythonReads(JsonLinesReader, readFile(path)).array();
        QStringList addresses;
        for (const QJsonValue &line : lines) {
            addresses << line[u"address"].toString();
            if (retry && line[u"address"] == u"b.tst"_s)
                QCOMPARE(line[u"status"].toString(), u"registered"_s);
        }
        QStringList expected = list.split(u'\n', Qt::SkipEmptyParts);
        addresses.sort();
        expected.sort();
        QCOMPARE(addresses, expected);
    }

    // Every format into every kind of output: a longer file is replaced whole (never another
    // name beside it), a link is written through and stays a link, a FIFO, a device and a pipe
    // are written as they are and stay what they are, a full device is exit 3 with the reason.
    void outputs_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("target");
        for (const char *format : {"tsv", "txt", "csv", "jsonl", "xlsx"}) {
            for (const char *target : {"longer file", "link to a longer file", "fifo",
                                       "null device", "/dev/stdout", "/dev/full"})
                QTest::addRow("%s into %s", format, target)
                    << QString::fromLatin1(format) << QString::fromLatin1(target);
        }
    }
    void outputs()
    {
        QFETCH(QString, format);
        QFETCH(QString, target);
        QTemporaryDir dir;
        // Two answers saved earlier: no server needed.
        writeFile(dir.filePath(u"a.txt"_s),
                  "Domain Name: a.test\r\nRegistrar: Example\r\nName Server: ns1.a.test\r\n"
                  "Name Server: ns2.a.test\r\n");
        writeFile(dir.filePath(u"b.txt"_s), "Domain Name: b.test\r\nNote: tab\there\r\n");
        const QStringList records{u"--read-records"_s, dir.filePath(u"a.txt"_s),
                                  dir.filePath(u"b.txt"_s), u"-f"_s, format};
        TestHttpServer server(serve);
        const bool xlsx = format == u"xlsx"_s;
        const QString reference = dir.filePath(u"reference."_s + format);
        const Outcome first = Cli(server).run(records + QStringList{u"-o"_s, reference});
        QCOMPARE(first.exitCode, 0);
        const QByteArray expected = readFile(reference);
        QVERIFY(!expected.isEmpty());
        // The same bytes, or for a workbook the same cells.
        const auto same = [&](const QByteArray &bytes) {
            if (!xlsx)
                return bytes == expected;
            const QString copy = dir.filePath(u"copy.xlsx"_s);
            QFile file(copy);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return false;
            file.close();
            return workbookRows(copy) == workbookRows(reference) && !workbookRows(copy).isEmpty();
        };

        QString path = dir.filePath(u"out"_s);
        const QByteArray longer(200000, 'x');
        QByteArray fromFifo;
        std::thread reader;
        struct stat before
        {
        };
        if (target == u"longer file"_s) {
            writeFile(path, longer);
        } else if (target == u"link to a longer file"_s) {
            writeFile(dir.filePath(u"target"_s), longer);
            QVERIFY(QFile::link(dir.filePath(u"target"_s), path));
        } else if (target == u"fifo"_s) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            reader = std::thread([&] {
                QFile fifo(path);
                if (fifo.open(QIODevice::ReadOnly))
                    fromFifo = fifo.readAll();
            });
        } else if (target == u"null device"_s) {
            // A device of the test's own, so nothing of the system is at stake.
            if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
                QSKIP("making a device needs root");
        } else {
            path = target;
        }
        ::stat(QFile::encodeName(path).constData(), &before);

        const Outcome outcome = Cli(server).run(records + QStringList{u"-o"_s, path});
        if (reader.joinable())
            reader.join();
        if (target == u"/dev/full"_s) {
            QCOMPARE(outcome.exitCode, 3);
            QVERIFY2(outcome.err.contains("No space left on device"), outcome.err.constData());
            return;
        }
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        struct stat after
        {
        };
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &after), 0);
        if (target == u"longer file"_s) {
            QVERIFY(same(readFile(path)));
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden).size(),
                     xlsx ? 5 : 4); // a.txt, b.txt, the reference, out (and the copy)
        } else if (target == u"link to a longer file"_s) {
            QVERIFY(S_ISLNK(after.st_mode));
            QVERIFY(same(readFile(dir.filePath(u"target"_s))));
        } else if (target == u"fifo"_s) {
            QVERIFY(S_ISFIFO(after.st_mode));
            QVERIFY(same(fromFifo));
        } else if (target == u"null device"_s) {
            QVERIFY(S_ISCHR(after.st_mode));
            QCOMPARE(after.st_rdev, before.st_rdev);
        } else {
            QVERIFY(same(outcome.out));
        }
    }

    // Stopped while one registry holds its answer back: the answers behind it are written too,
    // and a resumed run asks only what was left.
    void interruptKeepsFinished_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("jsonl") << u"jsonl"_s;
        QTest::newRow("tsv") << u"tsv"_s;
    }
    void interruptKeepsFinished()
    {
        QFETCH(QString, format);
        TestHttpServer site(serve);
        Registries world;
        TestWhoisServer &fast = world.add(u"aa"_s);
        bool hang = true;
        TestWhoisServer &slow = world.add(u"bb"_s, [&hang](const QByteArray &name) {
            TestWhoisServer::Reply reply = Registries::record(name);
            reply.hang = hang;
            return reply;
        });
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out."_s + format);
        const QStringList arguments{u"--source"_s, u"whois"_s, u"-d"_s, u"0"_s, u"-o"_s, path};
        const QByteArray list = "x.aa\ny.bb\nz.aa\nw.aa\n";
        Cli cli(site, world.connectTo());
        cli.start(arguments, list);
        QTRY_COMPARE_WITH_TIMEOUT(fast.queries.size(), 3, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(slow.queries.size(), 1, 10000);
        QTest::qWait(200); // the answers of aa reach the tool
        cli.signal(SIGINT);
        QCOMPARE(cli.finish().exitCode, 130);
        const QByteArray written = readFile(path);
        QVERIFY2(written.contains("x.aa") && written.contains("z.aa") && written.contains("w.aa"),
                 written.constData());
        QVERIFY(!written.contains("y.bb"));
        // In list order among themselves.
        QVERIFY(written.indexOf("x.aa") < written.indexOf("z.aa"));
        QVERIFY(written.indexOf("z.aa") < written.indexOf("w.aa"));
        if (format != u"jsonl"_s)
            return;
        hang = false;
        const Outcome resumed =
            Cli(site, world.connectTo()).run(arguments + QStringList{u"--resume"_s}, list);
        QCOMPARE(resumed.exitCode, 0);
        QCOMPARE(fast.queries.size(), 3);
        QCOMPARE(slow.queries.size(), 2);
        QStringList addresses = addressesOf(pythonReads(JsonLinesReader, readFile(path)));
        addresses.sort();
        QCOMPARE(addresses, (QStringList{u"w.aa"_s, u"x.aa"_s, u"y.bb"_s, u"z.aa"_s}));
    }

    // --save-answers keeps each answer as --read-records reads it: read back, it gives the row
    // the lookup gave.
    void savedAnswersReadBack_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("file");
        QTest::newRow("port 43") << u"whois"_s << u"a.tst"_s << u"a.tst.txt"_s;
        QTest::newRow("site") << u"site2"_s << u"b.example"_s << u"b.example.html"_s;
    }
    void savedAnswersReadBack()
    {
        QFETCH(QString, source);
        QFETCH(QString, address);
        QFETCH(QString, file);
        TestHttpServer site(serve);
        Registries world;
        world.add(u"tst"_s);
        QTemporaryDir dir;
        const QString saved = dir.filePath(u"answers"_s);
        const Outcome asked = Cli(site, world.connectTo())
                                  .run({u"--source"_s, source, u"-d"_s, u"0"_s, u"-f"_s, u"jsonl"_s,
                                        u"--save-answers"_s, saved, address, u"fail.example"_s});
        QCOMPARE(asked.exitCode, 1);
        // The failed lookup has no answer to keep.
        QCOMPARE(QDir(saved).entryList(QDir::Files), QStringList{file});
        const Outcome read =
            Cli(site).run({u"--read-records"_s, QDir(saved).filePath(file), u"-f"_s, u"jsonl"_s});
        QCOMPARE(read.exitCode, 0);
        QJsonObject lookedUp =
            QJsonDocument::fromJson(asked.out.left(asked.out.indexOf('\n'))).object();
        QJsonObject readBack = QJsonDocument::fromJson(read.out).object();
        QCOMPARE(readBack[u"source"], lookedUp[u"source"]);
        QCOMPARE(readBack[u"status"], lookedUp[u"status"]);
        QCOMPARE(readBack[u"fields"], lookedUp[u"fields"]);
        QVERIFY(!readBack[u"fields"].toArray().isEmpty());
    }

    // An argument that names no file and reads as an address is looked up; spaces, a trailing
    // dot and a web address's path go; an existing file of an address's name is a list.
    void argumentsAsAddresses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("asked");
        QTest::newRow("address") << QStringList{u"a.example"_s} << QStringList{u"a.example"_s};
        QTest::newRow("web address")
            << QStringList{u" https://B.example/some/path?x=1 "_s} << QStringList{u"b.example"_s};
        QTest::newRow("trailing dot")
            << QStringList{u"c.example."_s} << QStringList{u"c.example"_s};
        QTest::newRow("a file of that name wins")
            << QStringList{u"list.example"_s} << QStringList{u"e.example"_s, u"f.example"_s};
        QTest::newRow("in order, after --address")
            << QStringList{u"g.example"_s, u"-a"_s, u"h.example"_s, u"list.example"_s}
            << QStringList{u"h.example"_s, u"g.example"_s, u"e.example"_s, u"f.example"_s};
    }
    void argumentsAsAddresses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, asked);
        TestHttpServer server(serve);
        QTemporaryDir dir;
        writeFile(dir.filePath(u"list.example"_s), "  e.example.\r\nhttp://f.example/\r\n");
        Cli cli(server);
        cli.process().setWorkingDirectory(dir.path());
        const Outcome outcome =
            cli.run(QStringList{u"-d"_s, u"0"_s, u"-f"_s, u"jsonl"_s} + arguments);
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        QStringList targets;
        for (const QByteArray &target : server.targets)
            targets << QString::fromUtf8(target.mid(1));
        QCOMPARE(targets, asked);
        QCOMPARE(addressesOf(pythonReads(JsonLinesReader, outcome.out)), asked);
    }

    // On a terminal the progress line is taken away before results are written to the same
    // terminal (jsonl line by line, a table at the end), and gives way to the summary at the end.
    void progressOnTerminal_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("rowStart"); // %1: the address
        QTest::newRow("jsonl") << u"jsonl"_s << "{\"address\":\"%1\""_ba;
        QTest::newRow("tsv") << u"tsv"_s << "%1\t"_ba;
    }
    void progressOnTerminal()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, rowStart);
        TestHttpServer server(serve);
        const QStringList addresses{u"slow1.example"_s, u"slow2.example"_s, u"fail.example"_s,
                                    u"slow3.example"_s};
        const Outcome outcome =
            Cli(server).runOnTerminal(QStringList{u"-d"_s, u"0"_s, u"-f"_s, format} + addresses);
        QCOMPARE(outcome.exitCode, 1);
        const QByteArray out = outcome.out;
        QVERIFY2(out.contains(" failed  "), out.constData()); // a progress line was drawn
        for (const QString &address : addresses) {
            if (address.startsWith(u"fail"_s))
                continue; // its table row starts "Invalid input: "
            const QByteArray row = QString::fromLatin1(rowStart).arg(address).toUtf8();
            const qsizetype at = out.indexOf(row);
            QVERIFY2(at >= 0, row.constData());
            // At a line's start, or right after an erase ("\r", then "erase to the end").
            QVERIFY2(at == 0 || out[at - 1] == '\n' || out.mid(at - 4, 4) == "\r\x1b[K",
                     out.mid(qMax<qsizetype>(0, at - 40), 60).constData());
        }
        const QList<QByteArray> rows = out.trimmed().split('\n');
        QVERIFY2(rows.last().contains("quorvane-cli: 4 lookups in ") &&
                     rows.last().contains("3 registered, 1 failed"),
                 rows.last().constData());
    }

    // Without a terminal the summary line alone goes to standard error; --quiet keeps it quiet.
    void summaryLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("summary") << QStringList{} << "2 lookups in "_ba;
        QTest::newRow("quiet") << QStringList{u"--quiet"_s} << QByteArray();
    }
    void summaryLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, err);
        TestHttpServer server(serve);
        const Outcome outcome = Cli(server).run(
            QStringList{u"-d"_s, u"0"_s, u"a.example"_s, u"fail.example"_s} + arguments);
        QCOMPARE(outcome.exitCode, 1);
        if (err.isEmpty()) {
            QCOMPARE(outcome.err, QByteArray());
            return;
        }
        QVERIFY2(outcome.err.startsWith(QByteArray(QByteArray("quorvane-cli: ") + err)) &&
                     outcome.err.contains(": 1 registered, 1 failed (1 ") &&
                     outcome.err.count('\n') == 1,
                 outcome.err.constData());
    }

    // -d keeps fractions of a second; --timeout sets how long an answer may take.
    void delayAndTimeout_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("minGapMs");
        QTest::addColumn<int>("maxGapMs");
        QTest::newRow("half a second")
            << QStringList{u"-d"_s, u"0.5"_s}
            << QStringList{u"a.example"_s, u"b.example"_s, u"c.example"_s} << 0 << 450 << 1400;
        QTest::newRow("timeout") << QStringList{u"-d"_s, u"0"_s, u"--timeout"_s, u"0.3"_s}
                                 << QStringList{u"slow.example"_s, u"a.example"_s} << 1 << 250
                                 << 2000;
    }
    void delayAndTimeout()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, list);
        QFETCH(int, exitCode);
        QFETCH(int, minGapMs);
        QFETCH(int, maxGapMs);
        TestHttpServer server(serve);
        const Outcome outcome = Cli(server).run(arguments + list);
        QVERIFY2(outcome.exitCode == exitCode, outcome.err.constData());
        QCOMPARE(server.arrivals.size(), list.size());
        for (qsizetype i = 1; i < server.arrivals.size(); ++i) {
            const qint64 gap = server.arrivals[i] - server.arrivals[i - 1];
            QVERIFY2(gap >= minGapMs && gap <= maxGapMs, qPrintable(QString::number(gap)));
        }
    }

    // A run ends when its last lookup ends: the delay keeps apart two requests to one server,
    // it does not hold the tool after the last answer.
    void endsWithLastLookup_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("one address, -d 5")
            << QStringList{u"-d"_s, u"5"_s} << QStringList{u"a.example"_s} << 0 << 2500;
        QTest::newRow("two addresses, -d 2")
            << QStringList{u"-d"_s, u"2"_s} << QStringList{u"a.example"_s, u"b.example"_s} << 0
            << 3500;
        // Refused: no server reached.
        QTest::newRow("a failed last lookup, -d 5")
            << QStringList{u"-d"_s, u"5"_s} << QStringList{u"fail.example"_s} << 4 << 2500;
    }
    void endsWithLastLookup()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, list);
        QFETCH(int, exitCode);
        QFETCH(int, maxMs);
        TestHttpServer server(serve);
        QElapsedTimer clock;
        clock.start();
        const Outcome outcome = Cli(server).run(arguments + list);
        const qint64 ms = clock.elapsed();
        QVERIFY2(outcome.exitCode == exitCode, outcome.err.constData());
        QCOMPARE(server.arrivals.size(), list.size());
        QVERIFY2(ms < maxMs, qPrintable(QString::number(ms)));
    }

    // For port 43 and RDAP the tables say why a row failed, as jsonl does.
    void errorColumn_data()
    {
        QTest::addColumn<QString>("format");
        for (const char *format : {"tsv", "csv", "xlsx"})
            QTest::newRow(format) << QString::fromLatin1(format);
    }
    void errorColumn()
    {
        QFETCH(QString, format);
        TestHttpServer site(serve);
        Registries world;
        world.add(u"tst"_s);
        world.add(u"bad"_s, [](const QByteArray &) {
            TestWhoisServer::Reply reply;
            reply.bytes = "partial";
            reply.reset = true;
            return reply;
        });
        const QStringList arguments{u"--source"_s, u"whois"_s, u"-d"_s,
                                    u"0"_s,        u"a.tst"_s, u"b.bad"_s};
        const Outcome lines =
            Cli(site, world.connectTo()).run(arguments + QStringList{u"-f"_s, u"jsonl"_s});
        const QJsonArray objects = pythonReads(JsonLinesReader, lines.out).array();
        QCOMPARE(objects.size(), 2);
        const QString reason = objects[1][u"error"].toString();
        QVERIFY(!reason.isEmpty());

        QTemporaryDir dir;
        const QString path = dir.filePath(u"out."_s + format);
        const Outcome table =
            Cli(site, world.connectTo()).run(arguments + QStringList{u"--header"_s, u"-o"_s, path});
        QCOMPARE(table.exitCode, 1);
        QList<QStringList> rows;
        if (format == u"xlsx"_s) {
            rows = workbookRows(path);
        } else {
            const QString &reader = format == u"csv"_s ? CsvReader : TsvReader;
            for (const QJsonValue &row : pythonReads(reader, readFile(path)).array())
                rows.append(row.toVariant().toStringList());
        }
        QCOMPARE(rows.size(), 3);
        const qsizetype error = rows[0].indexOf(u"Error"_s);
        QCOMPARE(error, rows[0].indexOf(u"Status"_s) + 1);
        QCOMPARE(rows[1].value(error), QString());
        QCOMPARE(rows[2].value(error), reason);
    }

    // --whois-server and --no-referrals ask port 43: with auto they choose whois, even for a
    // name RDAP serves (its server and the bootstrap's point at a closed port here).
    void whoisOptionsChooseWhois()
    {
        TestHttpServer site(serve);
        WhoisWorld world;
        const QString closed = QString::number(Registries::closedPort());
        Cli cli(site, world.connectTo() + u",rdap.verisign.com:443:127.0.0.1:"_s + closed);
        cli.setEnvironment(u"QUORVANE_RDAP_BOOTSTRAP"_s, u"http://127.0.0.1:"_s + closed + u'/');
        const Outcome outcome =
            cli.run({u"--source"_s, u"auto"_s, u"--whois-server"_s, u"whois.nic.tst"_s, u"-d"_s,
                     u"0"_s, u"-f"_s, u"jsonl"_s, u"one.com"_s});
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        const QJsonObject line = QJsonDocument::fromJson(outcome.out).object();
        QCOMPARE(line[u"source"].toString(), u"whois"_s);
        QCOMPARE(line[u"servers"].toVariant().toStringList(),
                 (QStringList{u"whois.nic.tst"_s, u"whois.registrar.tst"_s}));
    }

    // More servers asked at once than the files the process may open allow: the soft limit is
    // raised to the hard one, and below a low hard limit fewer servers are kept busy; no lookup
    // fails for want of a descriptor either way.
    void descriptorBudget_data()
    {
        QTest::addColumn<int>("soft");
        QTest::addColumn<int>("hard");
        QTest::addColumn<bool>("lowered");
        QTest::addColumn<int>("minAtOnce");
        QTest::addColumn<int>("maxAtOnce");
        QTest::newRow("soft limit raised") << 100 << 4096 << false << 40 << 1000;
        QTest::newRow("low hard limit") << 128 << 128 << true << 2 << 128 - 64;
    }
    void descriptorBudget()
    {
        QFETCH(int, soft);
        QFETCH(int, hard);
        QFETCH(bool, lowered);
        QFETCH(int, minAtOnce);
        QFETCH(int, maxAtOnce);
        constexpr int AnswerMs = 300;
        TestHttpServer site(serve);
        TestWhoisServer iana([](const QByteArray &tld) {
            return TestWhoisServer::Reply{"refer: whois.nic." + tld + "\n"};
        });
        TestWhoisServer registries([](const QByteArray &name) {
            TestWhoisServer::Reply reply{"Domain Name: " + name + "\r\nRegistrar: Example\r\n"};
            reply.delayMs = AnswerMs;
            return reply;
        });
        QStringList connectTo{iana.mapping(u"whois.iana.org"_s)};
        QByteArray list;
        for (int i = 0; i < 150; ++i) {
            connectTo << registries.mapping(u"whois.nic.t%1"_s.arg(i));
            list += "name.t" + QByteArray::number(i) + "\n";
        }
        Cli cli(site, connectTo.join(u','));
        cli.limitFiles(rlim_t(soft), rlim_t(hard));
        const Outcome outcome = cli.run(
            {u"--source"_s, u"whois"_s, u"-d"_s, u"0"_s, u"-p"_s, u"1000"_s, u"-f"_s, u"jsonl"_s},
            list);
        QVERIFY2(outcome.exitCode == 0, outcome.err.constData());
        QCOMPARE(outcome.out.count('\n'), 150);
        QCOMPARE(outcome.err.contains("--parallel 1000 lowered to"), lowered);
        const int atOnce = mostAtOnce(registries.arrivals, AnswerMs);
        QVERIFY2(atOnce >= minAtOnce && atOnce <= maxAtOnce, qPrintable(QString::number(atOnce)));
    }
};

QUORVANE_REGISTER_TEST(TestCli)

#include "tst_cli.moc"
