#include "../results/xlsxreader.h"
#include "facts/recordfacts.h"
#include "lookup/lookuprun.h"
#include "lookup/runfeed.h"
#include "results/pivot.h"
#include "results/textexport.h"
#include "testhttpserver.h"
#include "testregistry.h"
#include "testwhoisserver.h"

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

#include <csignal>

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
                u"-d"_s,
                u"0"_s,
                u"-f"_s,
                u"jsonl"_s,
                u"--store"_s,
                store};
    }
};

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
const QString TsvReader =
    u"import json, sys\n"
    "data = sys.stdin.buffer.read().decode('utf-8')\n"
    "print(json.dumps([l.split('\\t') for l in data.split('\\r\\n')[:-1]]))"_s;
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
        QTest::newRow("parallel 1001") << QStringList{u"-p"_s, u"1001"_s} << ""_ba << 2;
        QTest::newRow("parallel not a number") << QStringList{u"-p"_s, u"many"_s} << ""_ba << 2;
        QTest::newRow("whois server malformed")
            << QStringList{u"--source"_s, u"whois"_s, u"--whois-server"_s, u"a b:70000"_s} << ""_ba
            << 2;
        QTest::newRow("whois server for a site")
            << QStringList{u"--whois-server"_s, u"whois.nic.tst"_s} << ""_ba << 2;
        QTest::newRow("no referrals for rdap")
            << QStringList{u"--source"_s, u"rdap"_s, u"--no-referrals"_s} << ""_ba << 2;
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
    }

    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        TestHttpServer server(serve);
        const Outcome outcome = Cli(server).run(arguments, input);
        QCOMPARE(outcome.exitCode, exitCode);
        // Errors are one line each; a clean run says nothing on a stderr that is no terminal.
        QCOMPARE(outcome.err.isEmpty(), exitCode < 2);
        if (exitCode >= 2)
            QVERIFY(outcome.err.startsWith("quorvane-cli: "));
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
        for (const char *format : {"jsonl", "tsv", "csv", "xlsx"})
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
            const QString &reader = format == u"csv"_s ? CsvReader : TsvReader;
            for (const QJsonValue &row : pythonReads(reader, outcome.out).array())
                table.append(row.toVariant().toStringList());
        }
        QCOMPARE(table.size(), 1 + files.size());
        const QStringList captions = table[0];
        QStringList summary;
        for (const FactColumn &column : factColumns())
            summary << QString::fromLatin1(column.caption);
        summary << u"Changed"_s;
        QCOMPARE(captions.mid(1, summary.size()), summary);
        QVERIFY(captions.contains(u"Domain Status (record)"_s));
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QStringList row = table[i + 1];
            QCOMPARE(row[0], dir.filePath(files[i].first));
            const QStringList cells{row.value(1), row.value(2), row.value(6), row.value(7)};
            QCOMPARE(cells, facts[i]);
        }
    }

    // The tsv is the window's text export of the same run: the window's run fills a pivot from
    // the same server, and the window's writer writes it.
    void tsvIsTheWindowsExport()
    {
        TestHttpServer server(serve);
        const QStringList addresses{u"a.example"_s, u"fail.example"_s, u"extra.example"_s,
                                    u"b.example"_s};
        const Outcome outcome =
            Cli(server).run({u"--delay"_s, u"0"_s}, addresses.join(u'\n').toUtf8());
        QCOMPARE(outcome.exitCode, 1);

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
        QVERIFY(!writeTableText(pivot, expected, TextFormat::Tsv, false));
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
            << QStringList{u"--max-age"_s, u"1h"_s, u"--store"_s, u"other.sqlite"_s} << 1 << false;
    }
    void storeReuse()
    {
        QFETCH(QStringList, extra);
        QFETCH(int, asked);
        QTemporaryDir other;
        extra.replaceInStrings(u"other.sqlite"_s, other.filePath(u"other.sqlite"_s));
        QFETCH(bool, fromStore);
        TestHttpServer site(serve);
        StoreWorld world;
        QTemporaryDir dir;
        const QStringList run = StoreWorld::arguments(dir.filePath(u"answers.sqlite"_s));
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
                                 .run(StoreWorld::arguments(none.filePath(u"s"_s)).mid(0, 9) +
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
        const QString store = dir.filePath(u"answers.sqlite"_s);
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
};

QUORVANE_REGISTER_TEST(TestCli)

#include "tst_cli.moc"
