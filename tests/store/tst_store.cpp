#include "facts/recordfacts.h"
#include "store/factfields.h"
#include "store/sqlanswerstore.h"
#include "store/storedanswer.h"
#include "store/storememory.h"
#include "store/storesql.h"
#include "store/storewriter.h"
#include "store/volatilelines.h"
#include "testregistry.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 Hour = 3600 * 1000;

// A registry's answer in the usual gTLD layout; `extra` goes before the database stamp.
QByteArray gtldAnswer(const QByteArray &name, const QByteArray &registrar,
                      const QByteArray &stamp = "2026-01-01T00:00:00Z",
                      const QByteArray &extra = {})
{
    return "Domain Name: " + name.toUpper() + "\r\nRegistrar: " + registrar +
           "\r\nName Server: NS1.EXAMPLE.TST\r\n" + extra +
           ">>> Last update of WHOIS database: " + stamp + " <<<\r\n";
}

LookupResult whoisResult(const QString &address, const QByteArray &record, qint64 askedAtMs,
                         const RecordFacts &facts = {})
{
    LookupResult result;
    result.address = address;
    result.source = SourceKind::Whois;
    result.servers = {u"whois.nic.tst"_s};
    result.recordText = record;
    result.facts = facts;
    if (result.facts.status == RecordStatus::Unknown)
        result.facts.status = RecordStatus::Registered;
    result.askedAtMs = askedAtMs;
    return result;
}

PendingAnswer pending(const LookupResult &result)
{
    return PendingAnswer{result, askedForm(result.address), answerDigest(result)};
}

// Runs statements on a store file through SQLite's own interface, the SQLite the store is linked
// with (two copies of SQLite in one process would drop each other's locks on a file), and gives
// the rows of the last one as text; nothing when a statement fails.
std::optional<QList<QStringList>> sqliteRows(const QString &path, const QString &statements)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return std::nullopt;
    }
    const QByteArray sql = statements.toUtf8();
    const char *next = sql.constData();
    std::optional<QList<QStringList>> rows;
    while (*next) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, next, -1, &statement, &next) != SQLITE_OK) {
            rows.reset();
            break;
        }
        if (!statement)
            continue; // white space after the last statement
        rows.emplace();
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                row << QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, i)));
            rows->append(row);
        }
        sqlite3_finalize(statement);
        if (step != SQLITE_DONE) {
            rows.reset();
            break;
        }
    }
    sqlite3_close_v2(db);
    return rows;
}

int countRows(const QString &path, const QString &table)
{
    const auto rows = sqliteRows(path, u"SELECT COUNT(*) FROM "_s + table);
    return rows && rows->size() == 1 ? rows->front().front().toInt() : -1;
}

// The bytes of a regular file (a pipe is not opened: that would wait for a writer).
QByteArray fileBytes(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private slots:
    // Lines that change on every query leave the digest alone; anything else changes it.
    void digest_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("same");
        const QByteArray name = "example.tst";
        QTest::newRow("database stamp") << gtldAnswer(name, "R", "2026-01-01T00:00:00Z")
                                        << gtldAnswer(name, "R", "2026-01-02T08:30:00Z") << true;
        QTest::newRow("stamp in other case")
            << gtldAnswer(name, "R") + ">>> LAST UPDATE OF WHOIS DATABASE: 1 <<<\r\n"
            << gtldAnswer(name, "R") + ">>> last update of whois database: 2 <<<\r\n"
            << true;
        QTest::newRow("query time")
            << "domain: x.tst\n% Query time: 3 msec\nnserver: a\n"_ba
            << "domain: x.tst\n% Query time: 12 msec\nnserver: a\n"_ba << true;
        QTest::newRow("rdap database stamp")
            << "Domain Name: X.TST\r\n>>> Last update of RDAP database: 2026-01-01T00:00:00Z <<<"_ba
            << "Domain Name: X.TST\r\n>>> Last update of RDAP database: 2026-03-01T00:00:00Z <<<"_ba
            << true;
        QTest::newRow("stamp in the last few bytes")
            << "domain: x.tst\nnserver: a.b\n% Query time: 1"_ba
            << "domain: x.tst\nnserver: a.b\n% Query time: 20"_ba << true;
        QTest::newRow("lookup time, no line end")
            << "Domain: x.uk\r\nWHOIS lookup made at 10:00:01 01-Jan-2026"_ba
            << "Domain: x.uk\r\nWHOIS lookup made at 23:59:59 02-Jan-2026"_ba << true;
        // The phrasing in capitals at each place within an eight-byte word, after non-ASCII bytes.
        for (int shift = 0; shift < 9; ++shift) {
            const QByteArray head = "domain: \xC3\x84" + QByteArray(shift, 'x') + "\n";
            QTest::addRow("capitals at %d", shift) << head + "QUERY TIME: 1 MSEC\nnserver: a\n"
                                                   << head + "Query Time: 22 msec\nnserver: a\n"
                                                   << true;
        }
        QTest::newRow("registrar")
            << gtldAnswer(name, "Old Registrar") << gtldAnswer(name, "New Registrar") << false;
        QTest::newRow("a line more")
            << gtldAnswer(name, "R")
            << gtldAnswer(name, "R", "2026-01-01T00:00:00Z", "DNSSEC: signedDelegation\r\n")
            << false;
        // A notice paragraph that mentions the phrasing is the record, not a stamp.
        const QByteArray notice =
            "NOTICE: " + QByteArray(250, 'x') + " the last update of whois database shows ";
        QTest::newRow("long notice") << notice + "one\r\n" << notice + "two\r\n" << false;
    }
    void digest()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(bool, same);
        QCOMPARE(VolatileLines::digest(first) == VolatileLines::digest(second), same);
        QCOMPARE(VolatileLines::without(first) == VolatileLines::without(second), same);
    }

    // The search for volatile lines over the whole text (anchors sixteen places at a time)
    // leaves out exactly the lines that, looked at one by one, are volatile: texts made of
    // stamps, their pieces and plain words in mixed case, with lines short and long.
    void withoutDropsTheVolatileLines()
    {
        const QByteArray pieces[] = {
            "Last Update of WHOIS database: 1",
            "QUERY TIME:",
            "query_time",
            "Queried at",
            "% generated at ",
            "Timestamp:",
            "WHOIS lookup made at",
            "data retrieved at",
            "update",
            "quer",
            "made at",
            "retrieved",
            "generated",
            "information updated:",
            "This query was served by",
            "Last update of RDAP database:",
            "whois database was last updated on",
            "Query Date:",
            "Response generated",
            "RECORD RETRIEVED AT",
            "lookup made",
            "pqgv PQGV",
            "\n",
            "\r\n",
            "Domain: x\n",
            "\xC3\x84",
            " ",
        };
        QRandomGenerator random(7);
        for (int round = 0; round < 20000; ++round) {
            QByteArray text;
            for (int n = random.bounded(30); n > 0; --n) {
                if (random.bounded(8) == 0)
                    text += QByteArray(random.bounded(230), 'y');
                text += pieces[random.bounded(int(std::size(pieces)))];
            }
            QByteArray expected;
            for (qsizetype from = 0; from < text.size();) {
                const qsizetype lf = text.indexOf('\n', from);
                const qsizetype end = lf < 0 ? text.size() : lf;
                if (!VolatileLines::isVolatile(QByteArrayView(text).sliced(from, end - from)))
                    expected += text.mid(from, end - from + (lf < 0 ? 0 : 1));
                from = end + 1;
            }
            QCOMPARE(VolatileLines::without(text), expected);
        }
    }

    // A daily run of an unchanged answer moves its time seen; a changed one is a new answer
    // whose tracked facts that differ are recorded, lists compared as sets.
    void changeKinds_data()
    {
        QTest::addColumn<QString>("fact");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("expected"); // fact, before, after; empty: no change
        QTest::newRow("status") << u"status"_s << u"registered"_s << u"reserved"_s
                                << QStringList{u"status"_s, u"registered"_s, u"reserved"_s};
        QTest::newRow("registrar") << u"registrar"_s << u"Old"_s << u"New"_s
                                   << QStringList{u"registrar"_s, u"Old"_s, u"New"_s};
        QTest::newRow("registrar id") << u"registrar_iana_id"_s << u"292"_s << u"1068"_s
                                      << QStringList{u"registrar_iana_id"_s, u"292"_s, u"1068"_s};
        QTest::newRow("expires") << u"expires"_s << u"2026-05-01T00:00:00Z"_s
                                 << u"2027-05-01T00:00:00Z"_s
                                 << QStringList{u"expires"_s, u"2026-05-01T00:00:00Z"_s,
                                                u"2027-05-01T00:00:00Z"_s};
        QTest::newRow("name servers moved")
            << u"name_servers"_s << u"ns1.a.tst ns2.a.tst"_s << u"ns2.a.tst ns3.b.tst"_s
            << QStringList{u"name_servers"_s, u"ns1.a.tst ns2.a.tst"_s, u"ns2.a.tst ns3.b.tst"_s};
        QTest::newRow("name servers reordered") << u"name_servers"_s << u"ns2.a.tst ns1.a.tst"_s
                                                << u"ns1.a.tst ns2.a.tst"_s << QStringList{};
        QTest::newRow("domain status")
            << u"domain_status"_s << u"ok"_s << u"clientHold clientTransferProhibited"_s
            << QStringList{u"domain_status"_s, u"ok"_s, u"clientHold clientTransferProhibited"_s};
        QTest::newRow("dnssec") << u"dnssec"_s << u"unsigned"_s << u"signed"_s
                                << QStringList{u"dnssec"_s, u"unsigned"_s, u"signed"_s};
        QTest::newRow("network") << u"network_cidr"_s << u"192.0.2.0/24"_s << u"192.0.2.0/25"_s
                                 << QStringList{u"network_cidr"_s, u"192.0.2.0/24"_s,
                                                u"192.0.2.0/25"_s};
        QTest::newRow("origin as") << u"origin_as"_s << u"AS64500"_s << u"AS64501"_s
                                   << QStringList{u"origin_as"_s, u"AS64500"_s, u"AS64501"_s};
        QTest::newRow("untracked: updated") << u"updated"_s << u"2026-01-01T00:00:00Z"_s
                                            << u"2026-02-01T00:00:00Z"_s << QStringList{};
        QTest::newRow("untracked: abuse email")
            << u"abuse_email"_s << u"a@x.tst"_s << u"b@x.tst"_s << QStringList{};
    }
    void changeKinds()
    {
        QFETCH(QString, fact);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QStringList, expected);
        const FactField *field = nullptr;
        for (const FactField &f : FactFields::all()) {
            if (QLatin1String(f.key) == fact)
                field = &f;
        }
        QVERIFY(field);
        const auto factsWith = [&](const QString &value) {
            RecordFacts facts;
            facts.status = RecordStatus::Registered;
            if (field->list)
                facts.*field->list = value.split(u' ');
            else
                FactFields::restore(facts, *field, value);
            return facts;
        };
        QTemporaryDir dir;
        const QString path = dir.filePath(u"answers.sqlite"_s);
        auto store = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite);
        QVERIFY2(!store->problem(), qPrintable(store->problem().message));
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 48 * Hour;
        // Day 1; day 2 the same answer (another stamp); day 3 an answer with the fact changed.
        const PendingAnswer day1 = pending(whoisResult(
            u"example.tst"_s, gtldAnswer("example.tst", "R", "1"), t0, factsWith(before)));
        const PendingAnswer day2 =
            pending(whoisResult(u"example.tst"_s, gtldAnswer("example.tst", "R", "2"),
                                t0 + 24 * Hour, factsWith(before)));
        const PendingAnswer day3 = pending(whoisResult(
            u"example.tst"_s, gtldAnswer("example.tst", "R", "3", fact.toUtf8() + "\r\n"),
            t0 + 48 * Hour, factsWith(after)));
        QVERIFY(store->write(std::span(&day1, 1)));
        QVERIFY(store->write(std::span(&day2, 1)));
        QVERIFY(store->write(std::span(&day3, 1)));

        QList<StoredAnswer> history;
        QVERIFY(store->history(u"example.tst"_s,
                               [&](const StoredAnswer &answer) { history.append(answer); }));
        QCOMPARE(history.size(), 2);
        QCOMPARE(history[0].askedAtMs, t0);
        QCOMPARE(history[0].lastSeenMs, t0 + 24 * Hour); // the second day's identical answer
        QCOMPARE(history[1].askedAtMs, t0 + 48 * Hour);
        QCOMPARE(FactFields::text(history[1].result.facts, *field), after);
        QList<ChangeRow> changes;
        QVERIFY(store->changes(0, {}, [&](const ChangeRow &row) { changes.append(row); }));
        if (expected.isEmpty()) {
            QVERIFY(changes.isEmpty());
            QVERIFY(history[1].changed.isEmpty());
            return;
        }
        QCOMPARE(changes.size(), 1);
        QCOMPARE((QStringList{changes[0].fact, changes[0].before, changes[0].after}), expected);
        QCOMPARE(changes[0].seenAtMs, t0 + 48 * Hour);
        QCOMPARE(history[1].changed, QStringList{fact});
        // --since after the change: nothing.
        changes.clear();
        QVERIFY(store->changes(t0 + 49 * Hour, u"example.tst"_s,
                               [&](const ChangeRow &row) { changes.append(row); }));
        QVERIFY(changes.isEmpty());
    }

    // A run's memory: a whole answer younger than the limit from the same source is given
    // instead of asking; anything else is asked.
    void reuse_data()
    {
        QTest::addColumn<QString>("storedSource");
        QTest::addColumn<int>("outcome"); // LookupStatus of the stored answer
        QTest::addColumn<int>("ageHours");
        QTest::addColumn<int>("maxAgeHours");
        QTest::addColumn<SourceKind>("asked");
        QTest::addColumn<bool>("reused");
        QTest::addColumn<int>("raisedHours"); // the limit once the window was read; 0: kept
        const int ok = int(LookupStatus::Ok);
        QTest::newRow("young") << u"whois"_s << ok << 1 << 6 << SourceKind::Whois << true << 0;
        QTest::newRow("too old") << u"whois"_s << ok << 7 << 6 << SourceKind::Whois << false << 0;
        QTest::newRow("limit raised after the window was read")
            << u"whois"_s << ok << 7 << 6 << SourceKind::Whois << true << 8;
        QTest::newRow("limit 0") << u"whois"_s << ok << 0 << 0 << SourceKind::Whois << false << 0;
        QTest::newRow("other source")
            << u"whois"_s << ok << 1 << 6 << SourceKind::Rdap << false << 0;
        QTest::newRow("auto takes port 43")
            << u"whois"_s << ok << 1 << 6 << SourceKind::Auto << true << 0;
        QTest::newRow("site") << u"site2"_s << ok << 1 << 6 << SourceKind::Site2 << true << 0;
        QTest::newRow("available")
            << u"rdap"_s << int(LookupStatus::Available) << 1 << 6 << SourceKind::Rdap << true << 0;
        QTest::newRow("failed") << u"whois"_s << int(LookupStatus::Failed) << 1 << 6
                                << SourceKind::Whois << false << 0;
        QTest::newRow("throttled") << u"whois"_s << int(LookupStatus::Throttled) << 1 << 6
                                   << SourceKind::Whois << false << 0;
    }
    void reuse()
    {
        QFETCH(QString, storedSource);
        QFETCH(int, outcome);
        QFETCH(int, ageHours);
        QFETCH(int, maxAgeHours);
        QFETCH(SourceKind, asked);
        QFETCH(bool, reused);
        QFETCH(int, raisedHours);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"answers.sqlite"_s);
        const qint64 askedAt = QDateTime::currentMSecsSinceEpoch() - ageHours * Hour - 1000;
        {
            RecordFacts facts;
            facts.registrar = u"R"_s;
            LookupResult result =
                whoisResult(u"Example.TST"_s, gtldAnswer("example.tst", "R"), askedAt, facts);
            result.source = sourceOfText(storedSource);
            result.status = LookupStatus(outcome);
            if (!result.ok())
                result.reason = FailureReason::Timeout;
            setOutcomeStatus(result);
            auto store = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite);
            const PendingAnswer answer = pending(result);
            QVERIFY(store->write(std::span(&answer, 1)));
        }
        StoreMemory memory(path, maxAgeHours * Hour);
        QVERIFY2(memory.openProblem().isEmpty(), qPrintable(memory.openProblem()));
        // Read as a run reads its window, in one batch with other addresses.
        QStringList window{u"example.tst"_s};
        for (int i = 0; i < StoreMemory::BatchAtLeast; ++i)
            window << u"other%1.tst"_s.arg(i);
        memory.expect(window, asked);
        if (raisedHours > 0)
            memory.setMaxAgeMs(raisedHours * Hour);
        // Asked as typed another way: the same address.
        const std::optional<LookupResult> kept = memory.reusable(u"example.tst"_s, asked);
        QCOMPARE(kept.has_value(), reused);
        if (!reused) {
            // Asked instead: compared with the kept answer of its source.
            RecordFacts facts;
            facts.registrar = u"S"_s;
            LookupResult fresh = whoisResult(u"example.tst"_s, gtldAnswer("example.tst", "S"),
                                             QDateTime::currentMSecsSinceEpoch(), facts);
            fresh.source = asked == SourceKind::Auto ? SourceKind::Whois : asked;
            memory.keep(fresh);
            const bool comparable =
                sourceText(fresh.source) == storedSource && outcome == int(LookupStatus::Ok);
            QCOMPARE(fresh.changed, comparable ? QStringList{u"registrar"_s} : QStringList{});
            return;
        }
        QVERIFY(kept->fromStore);
        QCOMPARE(kept->askedAtMs, askedAt);
        QCOMPARE(sourceText(kept->source), storedSource);
        QCOMPARE(kept->recordText, gtldAnswer("example.tst", "R"));
        QCOMPARE(kept->fields.size(), 4); // the stamp line is a field too
        QCOMPARE(kept->servers, QStringList{u"whois.nic.tst"_s});
    }

    // Registered domains whose latest expiry falls by the limit, soonest first; an address's
    // newer answer replaces its older expiry.
    void expiring()
    {
        QTemporaryDir dir;
        auto store = SqlAnswerStore::open(dir.filePath(u"answers.sqlite"_s),
                                          SqlAnswerStore::Access::ReadWrite);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        struct Row
        {
            const char *address;
            const char *expires;
            RecordStatus status;
            qint64 at;
        };
        const Row rows[] = {
            {"late.tst", "2026-03-01T00:00:00Z", RecordStatus::Registered, now - 10 * Hour},
            {"soon.tst", "2026-01-10T00:00:00Z", RecordStatus::Registered, now - 10 * Hour},
            {"past.tst", "2025-12-01T00:00:00Z", RecordStatus::Registered, now - 10 * Hour},
            {"beyond.tst", "2027-06-01T00:00:00Z", RecordStatus::Registered, now - 10 * Hour},
            {"free.tst", "2026-01-05T00:00:00Z", RecordStatus::Available, now - 10 * Hour},
            // Renewed: its newer answer expires beyond the limit.
            {"renewed.tst", "2026-01-02T00:00:00Z", RecordStatus::Registered, now - 10 * Hour},
            {"renewed.tst", "2028-01-02T00:00:00Z", RecordStatus::Registered, now - 1 * Hour},
        };
        for (const Row &row : rows) {
            RecordFacts facts;
            facts.status = row.status;
            facts.expires = QLatin1String(row.expires);
            facts.registrar = u"Registrar of "_s + QLatin1String(row.address);
            const PendingAnswer answer = pending(whoisResult(
                QLatin1String(row.address),
                gtldAnswer(row.address, "R", "x", QByteArray("Expiry: ") + row.expires + "\r\n"),
                row.at, facts));
            QVERIFY(store->write(std::span(&answer, 1)));
        }
        QStringList found;
        QVERIFY(store->expiring(u"2026-06-01T00:00:00Z"_s, {}, [&](const ExpiringRow &row) {
            found << row.address + u' ' + row.expires;
            QCOMPARE(row.registrar, u"Registrar of "_s + row.address);
            QCOMPARE(row.seenMs, now - 10 * Hour);
        }));
        QCOMPARE(found, (QStringList{u"past.tst 2025-12-01T00:00:00Z"_s,
                                     u"soon.tst 2026-01-10T00:00:00Z"_s,
                                     u"late.tst 2026-03-01T00:00:00Z"_s}));
    }

    // A path or file that cannot be a store is refused and left exactly as it was; a store
    // that cannot be made is said.
    void faults_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("words");
        const int refused = int(StoreProblem::Kind::Refused);
        QTest::newRow("symbolic link") << u"link"_s << refused << u"symbolic link"_s;
        QTest::newRow("folder") << u"folder"_s << refused << u"not a regular file"_s;
        QTest::newRow("pipe") << u"pipe"_s << refused << u"not a regular file"_s;
        QTest::newRow("link as its wal") << u"wal link"_s << refused << u"symbolic link"_s;
        QTest::newRow("not a database") << u"text"_s << refused << u"not an SQLite database"_s;
        QTest::newRow("newer version") << u"newer"_s << refused << u"newer version"_s;
        QTest::newRow("another database") << u"foreign"_s << refused << u"not an answer store"_s;
        QTest::newRow("folder cannot be made")
            << u"under a file"_s << int(StoreProblem::Kind::CannotOpen) << u"cannot be made"_s;
    }
    void faults()
    {
        QFETCH(QString, setup);
        QFETCH(int, kind);
        QFETCH(QString, words);
        QTemporaryDir dir;
        QString path = dir.filePath(u"answers.sqlite"_s);
        const QString target = dir.filePath(u"elsewhere.sqlite"_s);
        const auto sqlite = [&](const QString &file, const QStringList &statements) {
            QVERIFY(sqliteRows(file, statements.join(u';')));
        };
        if (setup == u"link"_s) {
            sqlite(target, {u"PRAGMA user_version = 1"_s});
            QVERIFY(QFile::link(target, path));
        } else if (setup == u"folder"_s) {
            QVERIFY(QDir().mkdir(path));
        } else if (setup == u"pipe"_s) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (setup == u"wal link"_s) {
            SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite).reset();
            QFile::remove(path + u"-wal"_s);
            QVERIFY(QFile::link(target, path + u"-wal"_s));
        } else if (setup == u"text"_s) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("domain: example.tst\nthis is no database\n");
        } else if (setup == u"newer"_s) {
            sqlite(path, {u"CREATE TABLE answers (x)"_s, u"PRAGMA user_version = 99"_s});
        } else if (setup == u"foreign"_s) {
            sqlite(path,
                   {u"CREATE TABLE notes (text TEXT)"_s, u"INSERT INTO notes VALUES ('mine')"_s});
        } else if (setup == u"under a file"_s) {
            QFile file(dir.filePath(u"plain"_s));
            QVERIFY(file.open(QIODevice::WriteOnly));
            path = dir.filePath(u"plain/answers.sqlite"_s);
        }
        const QByteArray before = fileBytes(path);
        const QByteArray targetBefore = fileBytes(target);
        auto store = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite);
        QCOMPARE(int(store->problem().kind), kind);
        QVERIFY2(store->problem().message.contains(words), qPrintable(store->problem().message));
        QVERIFY(!store->writable());
        const PendingAnswer answer =
            pending(whoisResult(u"a.tst"_s, gtldAnswer("a.tst", "R"), 1000));
        QVERIFY(!store->write(std::span(&answer, 1)));
        store.reset();
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(fileBytes(target), targetBefore);
    }

    // Answers are compressed: after enough of them a dictionary is trained, and every answer
    // written with or without it reads back whole.
    void compression()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"answers.sqlite"_s);
        auto store = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite);
        const QByteArray notice =
            "NOTICE: The expiration date displayed in this record is the date the registrar's "
            "sponsorship of the domain name registration in the registry is currently set to "
            "expire. This date does not necessarily reflect the expiration date of the domain "
            "name registrant's agreement with the sponsoring registrar.\r\n";
        std::vector<PendingAnswer> batch;
        qint64 raw = 0;
        const int n = SqlAnswerStore::DictionarySamples + 500;
        for (int i = 0; i < n; ++i) {
            const QByteArray name = "name" + QByteArray::number(i) + ".tst";
            const QByteArray text = gtldAnswer(name, "Registrar " + QByteArray::number(i % 7), "x",
                                               notice + notice.toUpper());
            raw += text.size();
            batch.push_back(pending(whoisResult(QString::fromLatin1(name), text, 1000 + i)));
            if (batch.size() == 300 || i == n - 1) {
                QVERIFY2(store->write(batch), qPrintable(store->problem().message));
                batch.clear();
            }
        }
        QCOMPARE(countRows(path, u"dictionaries"_s), 1);
        for (int i : {0, 5, n - 1}) {
            const QByteArray name = "name" + QByteArray::number(i) + ".tst";
            const std::optional<StoredAnswer> answer =
                store->latest(QString::fromLatin1(name), u"whois"_s);
            QVERIFY(answer);
            QCOMPARE(answer->result.recordText,
                     gtldAnswer(name, "Registrar " + QByteArray::number(i % 7), "x",
                                notice + notice.toUpper()));
        }
        store.reset();
        // The answers written after the dictionary take a fraction of their text.
        const auto average =
            sqliteRows(path, u"SELECT AVG(LENGTH(payload)) FROM answers WHERE dictionary > 0"_s);
        QVERIFY(average && average->size() == 1);
        const double compressed = average->front().front().toDouble();
        QVERIFY2(compressed > 0 && compressed < double(raw) / n / 8,
                 qPrintable(QString::number(compressed)));
    }

    // Answers handed over faster than the disk takes them wait a batch at a time, not all at
    // once, and every one of them is kept. At the end the write-ahead log is emptied, though a
    // run's reader is still open: the next process to start would read all of it.
    void writerHoldsBackAFastRun()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"answers.sqlite"_s);
        const int n = 8 * StoreWriter::BatchSize;
        std::size_t most = 0;
        {
            StoreWriter writer(path);
            QVERIFY(writer.writing());
            const auto reader = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadOnly);
            QVERIFY(reader->readable());
            const QByteArray notice(3000, 'n');
            for (int i = 0; i < n; ++i) {
                const QByteArray name = "name" + QByteArray::number(i) + ".tst";
                writer.add(
                    pending(whoisResult(QString::fromLatin1(name),
                                        gtldAnswer(name, "R", "x", notice + "\r\n"), 1000 + i)));
                most = std::max(most, writer.waiting());
            }
            QCOMPARE(writer.finish(), QString());
            QCOMPARE(QFileInfo(path + u"-wal"_s).size(), 0);
        }
        QVERIFY2(most <= StoreWriter::MaxPending, qPrintable(QString::number(most)));
        QCOMPARE(countRows(path, u"answers"_s), n);
    }

    // Every fact of RecordFacts has its place in the store, or a new one would be lost.
    void everyFactKept()
    {
        QStringList keys, kept;
        for (const FactColumn &column : factColumns())
            keys << QLatin1String(column.jsonKey);
        for (const FactField &field : FactFields::all())
            kept << QLatin1String(field.key);
        // In the payload's own order: a fact added later comes last.
        keys.sort();
        kept.sort();
        QCOMPARE(kept, keys);
        RecordFacts facts;
        int n = 0;
        for (const FactField &field : FactFields::all()) {
            // ASCII and not (written apart in the payload).
            ++n;
            const QString value = (n % 2 ? u"v%1"_s : u"B\u00fccher %1 \U0001F600"_s).arg(n);
            if (field.list)
                facts.*field.list = QStringList{value, value + u'b'};
            else if (field.status)
                facts.status = RecordStatus::Reserved;
            else
                facts.*field.text = value;
        }
        LookupResult result = whoisResult(u"a.tst"_s, "x: y\r\n", 5, facts);
        result.error = u"d\u00e9faut"_s;
        LookupResult back;
        QVERIFY(StoredPayload::decode(StoredPayload::encode(result), back));
        QCOMPARE(back.facts, result.facts);
        QCOMPARE(back.servers, result.servers);
        QCOMPARE(back.recordText, result.recordText);
        QCOMPARE(back.error, result.error);
        QVERIFY(!StoredPayload::decode(StoredPayload::encode(result).chopped(1), back));
    }

    // Every stored address is found when many are asked at once, whichever statement (a few or
    // many at a time) each part of the list goes through.
    void latestOfMany_data()
    {
        QTest::addColumn<int>("count");
        for (const int n : {1, StoreSql::FewAtOnce, StoreSql::FewAtOnce + 1, StoreSql::ManyAtOnce,
                            StoreSql::ManyAtOnce + StoreSql::FewAtOnce})
            QTest::addRow("%d", n) << n;
    }
    void latestOfMany()
    {
        QFETCH(int, count);
        QTemporaryDir dir;
        auto store = SqlAnswerStore::open(dir.filePath(u"answers.sqlite"_s),
                                          SqlAnswerStore::Access::ReadWrite);
        std::vector<PendingAnswer> batch;
        QStringList asked;
        QSet<QString> typed;
        for (int i = 0; i < count; ++i) {
            // Some typed beyond ASCII (asked in their ASCII form; bound apart from ASCII).
            const QString name = (i % 3 ? u"n%1.tst"_s : u"n\u00e4%1.tst"_s).arg(i);
            batch.push_back(pending(whoisResult(name, gtldAnswer(name.toUtf8(), "R"), 1000)));
            asked << batch.back().asked;
            typed.insert(name);
        }
        QVERIFY(store->write(batch));
        QSet<QString> found;
        QVERIFY(store->latestOf(asked, u"whois"_s, {},
                                [&](StoredAnswer &&answer) { found.insert(answer.address); }));
        QCOMPARE(found, typed);
    }

    // The answer as sent is kept where the record is a rendering of it (RDAP's JSON); a port-43
    // answer is its record; a site's page is not kept. A payload of the first version still reads.
    void rawAnswer_data()
    {
        QTest::addColumn<SourceKind>("source");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("firstVersion");
        const QByteArray json = R"({"objectClassName":"domain","ldhName":"A.TST"})";
        QTest::newRow("rdap") << SourceKind::Rdap << json << json << false;
        QTest::newRow("auto by rdap") << SourceKind::Auto << json << json << false;
        QTest::newRow("port 43") << SourceKind::Whois << "x: y\r\n"_ba
                                 << "x: y\r\n"_ba << false;
        QTest::newRow("site page")
            << SourceKind::Site2 << "<html>x: y</html>"_ba << QByteArray() << false;
        QTest::newRow("first version") << SourceKind::Whois << "x: y\r\n"_ba
                                       << "x: y\r\n"_ba << true;
    }
    void rawAnswer()
    {
        QFETCH(SourceKind, source);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, expected);
        QFETCH(bool, firstVersion);
        LookupResult result = whoisResult(u"a.tst"_s, "x: y\r\n", 5, {});
        result.source = source;
        result.answer = answer;
        QByteArray payload = StoredPayload::encode(result);
        if (firstVersion) {
            QCOMPARE(payload.back(), '\0'); // no answer beside the record: its length, 0
            payload.chop(1);
            payload[0] = 1;
        }
        LookupResult back;
        back.source = source;
        QVERIFY(StoredPayload::decode(payload, back));
        QCOMPARE(back.recordText, result.recordText);
        QCOMPARE(back.answer, expected);
    }

    // The schema is written once, its version with it; a store is opened again as it is.
    void version()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"answers.sqlite"_s);
        SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite).reset();
        auto again = SqlAnswerStore::open(path, SqlAnswerStore::Access::ReadWrite);
        QVERIFY2(!again->problem(), qPrintable(again->problem().message));
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
        again.reset();
        const auto version = sqliteRows(path, u"PRAGMA user_version"_s);
        QCOMPARE(version, QList<QStringList>{{QString::number(StoreSql::SchemaVersion)}});
        const auto journal = sqliteRows(path, u"PRAGMA journal_mode"_s);
        QCOMPARE(journal, QList<QStringList>{{u"wal"_s}});
        // The work queue's tables are PostgreSQL's alone.
        const auto tables = sqliteRows(
            path, u"SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"_s);
        QCOMPARE(tables, (QList<QStringList>{
                             {u"answers"_s}, {u"changes"_s}, {u"dictionaries"_s}, {u"latest"_s}}));
    }
};

QUORVANE_REGISTER_TEST(TestStore)

#include "tst_store.moc"
