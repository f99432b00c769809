#include "store/sqlanswerstore.h"

#include "store/factfields.h"
#include "store/sqlitestatement.h"
#include "store/storefile.h"
#include "store/storesql.h"
#include "store/volatilelines.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <QThread>
#include <sqlite3.h>

#include <unistd.h>

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString newConnectionName()
{
    static QAtomicInteger<quint64> next = 0;
    return QStringLiteral("quorvane-store-%1").arg(next.fetchAndAddRelaxed(1));
}

// An address's key among the locks its writers take: the same on every machine (FNV-1a over
// its UTF-8 bytes), so writers on two machines take turns at one address.
qint64 addressLockKey(const QString &asked)
{
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : asked.toUtf8()) {
        hash ^= quint8(byte);
        hash *= 1099511628211ULL;
    }
    return qint64(hash);
}

// The database's words for a failure, on one line.
QString databaseWords(const QSqlError &error)
{
    QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    text = text.simplified();
    if (text.startsWith(QLatin1String("ERROR: ")))
        text = text.mid(7);
    return text;
}

// SQLite's process-wide settings, made once before the process's first connection (later they
// are refused and change nothing). Each connection's page cache starts empty and takes pages as
// it reads them: by default SQLite gives every connection about 80 KiB of cache at once and
// writes a header into each of its pages, some 20 page faults a connection at every start for
// pages a short run never reads. No statistics of SQLite's memory are kept: nothing reads them,
// and keeping them took a lock at every allocation.
void configureSqlite()
{
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    Q_UNUSED(configured);
}

} // namespace

qint64 answerDigest(const LookupResult &result)
{
    const char outcome[2] = {char('0' + int(result.status)), 0};
    return VolatileLines::digest(result.recordText, QByteArrayView(outcome, 1));
}

SqlAnswerStore::SqlAnswerStore(const SqlDialect &dialect, const StoreLocation &location)
    : m_dialect(dialect), m_location(location), m_path(location.shown()),
      m_connection(newConnectionName())
{
}

SqlAnswerStore::~SqlAnswerStore()
{
    if (!m_location.isPostgres()) {
        // The statements go before the connection they were prepared on.
        m_queries.clear();
        sqlite3_close_v2(m_sqlite);
        return;
    }
    // Closing the connection frees its prepared statements; going first, the driver spares each
    // statement a request to free it (and, on a connection that went away, a warning).
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
    m_queries.clear();
    if (!m_sideConnection.isEmpty()) {
        QSqlDatabase::database(m_sideConnection, false).close();
        QSqlDatabase::removeDatabase(m_sideConnection);
    }
}

void SqlAnswerStore::emptyLog()
{
    if (!m_sqlite || QFileInfo(m_location.path + QStringLiteral("-wal")).size() <= LogKeptBytes)
        return;
    sqlite3_busy_timeout(m_sqlite, 0);
    sqlite3_wal_checkpoint_v2(m_sqlite, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

std::unique_ptr<SqlAnswerStore> SqlAnswerStore::open(const StoreLocation &location, Access access)
{
    if (location.isPostgres()) {
        std::unique_ptr<SqlAnswerStore> store(new SqlAnswerStore(SqlDialect::postgres(), location));
        store->openDatabase(access);
        return store;
    }
    const QString path = location.path;
    std::unique_ptr<SqlAnswerStore> store(new SqlAnswerStore(SqlDialect::sqlite(), location));
    const QString refused = StoreFile::refusal(path);
    if (!refused.isEmpty()) {
        store->m_problem = {StoreProblem::Kind::Refused, refused};
        return store;
    }
    if (access == Access::ReadWrite) {
        const QString unmade = StoreFile::prepare(path);
        if (!unmade.isEmpty()) {
            // A store that cannot be made may still be there to read.
            store->m_problem = {StoreProblem::Kind::CannotOpen, unmade};
            return store;
        }
        // SQLite writes beside the file too (its WAL): both must be writable.
        const QByteArray file = QFile::encodeName(path);
        const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
        if (::access(file.constData(), W_OK) != 0 || ::access(folder.constData(), W_OK) != 0) {
            access = Access::ReadOnly;
            store->m_problem = {StoreProblem::Kind::ReadOnly,
                                QStringLiteral("the answer store ") + shown(path) +
                                    QStringLiteral(" is read-only; answers are not kept")};
        }
    } else if (!QFileInfo::exists(path)) {
        store->m_empty = true;
        store->m_readable = true;
        return store;
    }
    // Two processes making a new store at once: one can find it locked in a step the busy
    // timeout does not wait out (turning on WAL while the other writes its schema). It tries
    // again a few times; still busy, that is said, as a store that was never open writes nothing.
    constexpr int OpenAttempts = 5;
    for (int attempt = 1; !store->openDatabase(access) && store->m_busy; ++attempt) {
        if (attempt == OpenAttempts) {
            store->m_problem = {StoreProblem::Kind::CannotOpen,
                                QStringLiteral("the answer store ") + shown(path) +
                                    QStringLiteral(" stayed busy; answers are not kept")};
            break;
        }
        QThread::msleep(unsigned(50 * attempt));
        std::unique_ptr<SqlAnswerStore> again(new SqlAnswerStore(SqlDialect::sqlite(), location));
        again->m_problem = store->m_problem; // a read-only folder, noted above
        store = std::move(again);
    }
    return store;
}

bool SqlAnswerStore::connectPostgres()
{
    // Qt loads its PostgreSQL driver (and with it libpq) only here, for a postgresql:// store.
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(m_dialect.driver))) {
        m_problem = {StoreProblem::Kind::CannotOpen,
                     QStringLiteral("the answer store ") + m_path +
                         QStringLiteral(" needs Qt's PostgreSQL driver, which is not installed "
                                        "(Debian package libqt6sql6-psql)")};
        return false;
    }
    m_db = QSqlDatabase::addDatabase(QLatin1String(m_dialect.driver), m_connection);
    // No password is set: libpq takes it from PGPASSWORD or ~/.pgpass.
    m_db.setHostName(m_location.host);
    m_db.setDatabaseName(m_location.database);
    m_db.setUserName(m_location.user);
    m_db.setPort(m_location.port);
    m_db.setConnectOptions(m_location.parameters);
    if (!m_db.open()) {
        m_problem = {StoreProblem::Kind::CannotOpen,
                     QStringLiteral("cannot connect to the answer store ") + m_path +
                         QStringLiteral(": ") + databaseWords(m_db.lastError())};
        return false;
    }
    return true;
}

void SqlAnswerStore::setPageCacheKiB(int kib)
{
    // Only SQLite keeps a cache per connection (and a store not made yet has none).
    if (m_dialect.pageCacheKiB && m_sqlite)
        execText(QString::fromLatin1(m_dialect.pageCacheKiB).arg(kib));
}

bool SqlAnswerStore::openDatabase(Access access)
{
    if (m_location.isPostgres()) {
        if (!connectPostgres())
            return false;
    } else {
        // A connection is used by one thread at a time (the writer's on its own thread), so
        // SQLite need not lock it for each call.
        const int flags = SQLITE_OPEN_NOMUTEX |
                          (access == Access::ReadOnly ? SQLITE_OPEN_READONLY
                                                      : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        configureSqlite();
        const int opened = sqlite3_open_v2(QFile::encodeName(m_location.path).constData(),
                                           &m_sqlite, flags, nullptr);
        if (opened != SQLITE_OK) {
            m_problem = {StoreProblem::Kind::CannotOpen,
                         QStringLiteral("the answer store ") + shown(m_path) +
                             QStringLiteral(" cannot be opened: ") +
                             QString::fromUtf8(sqlite3_errmsg(m_sqlite))};
            sqlite3_close_v2(m_sqlite);
            m_sqlite = nullptr;
            return false;
        }
        sqlite3_extended_result_codes(m_sqlite, 1);
        // Another process writing the same store holds its lock for one short batch.
        sqlite3_busy_timeout(m_sqlite, 10000);
    }
    const std::unique_ptr<StoreStatement> version = statement(QLatin1String(m_dialect.readVersion));
    if (!version->exec() || !version->next()) {
        noteError(version->lastError());
        return false;
    }
    int found = int(version->integer(0));
    version->finish();
    for (const QString &statement : m_dialect.readSetup) {
        if (!execText(statement))
            return false;
    }
    if (found == 0) {
        const std::unique_ptr<StoreStatement> tables =
            statement(QLatin1String(m_dialect.countTables));
        if (!tables->exec() || !tables->next()) {
            noteError(tables->lastError());
            return false;
        }
        const bool hasTables = tables->integer(0) > 0;
        tables->finish();
        // The version and the tables are read one after the other: another process that made
        // the store in between (its tables and its version in one transaction) shows its tables
        // here but not its version above. Read again, the version tells.
        if (hasTables) {
            if (!version->exec() || !version->next()) {
                noteError(version->lastError());
                return false;
            }
            found = int(version->integer(0));
            version->finish();
        }
        if (hasTables && found == 0) {
            m_problem = {StoreProblem::Kind::Refused,
                         m_location.isPostgres()
                             ? QStringLiteral("the database ") + m_path +
                                   QStringLiteral(" holds tables named as the answer store's "
                                                  "but is not an answer store; it is left as "
                                                  "it is")
                             : QStringLiteral("the file ") + shown(m_path) +
                                   QStringLiteral(" is an SQLite database but not an answer "
                                                  "store; it is left as it is")};
            return false;
        }
    }
    if (found > StoreSql::SchemaVersion) {
        m_problem = {StoreProblem::Kind::Refused,
                     QStringLiteral("the answer store ") + shown(m_path) +
                         QStringLiteral(" was written by a newer version of Quorvane (schema %1, "
                                        "this one knows %2); it is left as it is")
                             .arg(found)
                             .arg(StoreSql::SchemaVersion)};
        return false;
    }
    if (access == Access::ReadOnly) {
        m_empty = found == 0;
        m_readable = true;
        return true;
    }
    for (const QString &statement : m_dialect.sessionSetup) {
        if (!execText(statement))
            return false;
    }
    if (found < StoreSql::SchemaVersion && !migrate(found))
        return false;
    m_readable = true;
    m_writable = true;
    // The newest dictionary compresses what this connection writes.
    StoreStatement &newest = prepared(StoreSql::NewestDictionary);
    if (!exec(newest))
        return false;
    if (newest.next()) {
        m_codec.addDictionary(newest.integer(0), newest.blob(2), true);
        m_dictionaryBasis = newest.integer(1);
    }
    newest.finish();
    StoreStatement &highest = prepared(StoreSql::HighestAnswerId);
    if (!exec(highest) || !highest.next())
        return false;
    m_knownAnswers = highest.integer(0);
    highest.finish();
    return true;
}

bool SqlAnswerStore::migrate(int from)
{
    if (!execText(QLatin1String(m_dialect.beginWrite)))
        return false;
    if (m_dialect.schemaLock && !execText(QLatin1String(m_dialect.schemaLock))) {
        execText(QStringLiteral("ROLLBACK"));
        return false;
    }
    // Another process may have migrated while this one waited for the lock.
    const std::unique_ptr<StoreStatement> version = statement(QLatin1String(m_dialect.readVersion));
    if (!version->exec() || !version->next()) {
        noteError(version->lastError());
        execText(QStringLiteral("ROLLBACK"));
        return false;
    }
    int at = int(version->integer(0));
    version->finish();
    if (at < from)
        at = from;
    for (int to = at + 1; to <= StoreSql::SchemaVersion; ++to) {
        // The work queue's tables live only where the work can be shared: an SQLite store
        // would carry them unused, and every connection would read their schema when it opens
        // (stores made before keep theirs).
        if (to == StoreSql::WorkQueueVersion && !m_dialect.sharedWork)
            continue;
        for (const char *statement : StoreSql::migration(to)) {
            if (!execText(m_dialect.expand(statement))) {
                execText(QStringLiteral("ROLLBACK"));
                return false;
            }
        }
    }
    if (!execText(QString::fromLatin1(m_dialect.writeVersion).arg(StoreSql::SchemaVersion)) ||
        !execText(QStringLiteral("COMMIT"))) {
        execText(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

std::unique_ptr<StoreStatement> SqlAnswerStore::statement(const QString &sql, bool reused) const
{
    if (m_sqlite)
        return std::make_unique<SqliteStatement>(m_sqlite, sql);
    return std::make_unique<QtStoreStatement>(m_db, sql, reused);
}

StoreStatement &SqlAnswerStore::prepared(const char *sql)
{
    if (m_lost)
        return m_deadQuery;
    std::unique_ptr<StoreStatement> &prepared = m_queries[sql];
    if (!prepared)
        prepared = statement(m_dialect.expand(sql), true);
    return *prepared;
}

bool SqlAnswerStore::beginWrite()
{
    m_busy = false;
    return execText(QLatin1String(m_dialect.beginWrite));
}

bool SqlAnswerStore::commit()
{
    finishAll();
    if (execText(QStringLiteral("COMMIT")))
        return true;
    const bool busy = m_busy;
    rollback();
    m_busy = busy;
    return false;
}

void SqlAnswerStore::rollback()
{
    if (m_lost)
        return;
    finishAll();
    const int errors = m_errors;
    statement(QStringLiteral("ROLLBACK"))->exec();
    m_errors = errors;
}

bool SqlAnswerStore::exec(StoreStatement &query)
{
    if (m_lost) {
        ++m_errors;
        return false;
    }
    if (query.exec())
        return true;
    noteError(query.lastError());
    return false;
}

bool SqlAnswerStore::execText(const QString &sql)
{
    if (m_lost) {
        ++m_errors;
        return false;
    }
    const std::unique_ptr<StoreStatement> once = statement(sql);
    if (once->exec())
        return true;
    noteError(once->lastError());
    return false;
}

void SqlAnswerStore::noteError(const QSqlError &error)
{
    ++m_errors;
    const QString code = m_dialect.codeOf(error.nativeErrorCode());
    if (m_dialect.lostCodes.contains(code)) {
        // Nothing more is sent on the connection. The driver goes with it, so the statements
        // prepared on it are dropped without asking the server to free them.
        m_lost = true;
        m_busy = false;
        m_readable = m_writable = false;
        m_problem = {StoreProblem::Kind::CannotOpen, QStringLiteral("the answer store ") +
                                                         shown(m_path) +
                                                         QStringLiteral(" can no longer be "
                                                                        "reached: ") +
                                                         databaseWords(error)};
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        return;
    }
    m_busy = m_dialect.busyCodes.contains(code);
    if (m_busy)
        return; // tried again later
    const QString where = QStringLiteral("the answer store ") + shown(m_path);
    if (m_dialect.corruptCodes.contains(code)) {
        m_problem = {StoreProblem::Kind::Refused, where + QStringLiteral(" is damaged (") +
                                                      error.databaseText() +
                                                      QStringLiteral("); it is left as it is")};
        m_readable = m_writable = false;
    } else if (m_dialect.fullCodes.contains(code)) {
        m_problem = {StoreProblem::Kind::Full,
                     where + QStringLiteral(": the disk is full; answers are no longer kept")};
        m_writable = false;
    } else if (m_dialect.readOnlyCodes.contains(code)) {
        m_problem = {StoreProblem::Kind::ReadOnly,
                     where + QStringLiteral(" is read-only; answers are not kept")};
        m_writable = false;
    } else if (!m_problem) {
        m_problem = {StoreProblem::Kind::CannotOpen,
                     where + QStringLiteral(" failed: ") +
                         (m_location.isPostgres() ? databaseWords(error) : error.text())};
        m_writable = false;
    }
}

bool SqlAnswerStore::loadDictionary(qint64 id)
{
    if (id == 0 || m_codec.hasDictionary(id))
        return true;
    if (!m_dialect.nestedReads) {
        // The answer being decoded may be one row of many still coming on the main connection:
        // a statement there would drop the rest. The dictionaries are read on a second one.
        if (m_sideConnection.isEmpty()) {
            m_sideConnection = m_connection + QStringLiteral("-dictionaries");
            QSqlDatabase::cloneDatabase(m_db, m_sideConnection);
        }
        QSqlDatabase side = QSqlDatabase::database(m_sideConnection);
        QSqlQuery query(side);
        query.setForwardOnly(true);
        if (!side.isOpen() || !query.prepare(m_dialect.expand(StoreSql::Dictionaries))) {
            noteError(side.isOpen() ? query.lastError() : side.lastError());
            return false;
        }
        query.bindValue(0, 0);
        if (!query.exec()) {
            noteError(query.lastError());
            return false;
        }
        while (query.next())
            m_codec.addDictionary(query.value(0).toLongLong(), query.value(1).toByteArray(), false);
        return m_codec.hasDictionary(id);
    }
    StoreStatement &query = prepared(StoreSql::Dictionary);
    query.bind(0, id);
    if (!exec(query) || !query.next())
        return false;
    m_codec.addDictionary(id, query.blob(0), false);
    query.finish();
    return true;
}

bool SqlAnswerStore::readAnswer(const StoreStatement &query, StoredAnswer &out, Decode decode)
{
    out.id = query.integer(0);
    out.asked = query.text(1);
    out.address = query.isNull(2) ? out.asked : query.text(2);
    out.source = query.text(3);
    out.askedAtMs = query.integer(4);
    out.lastSeenMs = query.integer(5);
    out.digest = query.integer(7);
    out.dictionary = query.integer(8);
    out.compressed = query.blob(9);
    const QString changed = query.text(10);
    out.changed = changed.isEmpty() ? QStringList() : changed.split(QLatin1Char(' '));
    return decode == Decode::Later || this->decode(out);
}

bool SqlAnswerStore::readAnswers(StoreStatement &query,
                                 const std::function<void(const StoredAnswer &)> &row)
{
    if (!exec(query))
        return false;
    StoredAnswer answer;
    while (query.next()) {
        if (!readAnswer(query, answer))
            return false;
        row(answer);
    }
    query.finish();
    return true;
}

bool SqlAnswerStore::decode(StoredAnswer &answer)
{
    answer.result = LookupResult();
    answer.result.address = answer.address;
    answer.result.source = sourceOfText(answer.source);
    answer.result.askedAtMs = answer.lastSeenMs;
    answer.result.changed = answer.changed;
    if (!loadDictionary(answer.dictionary))
        return false;
    const std::optional<QByteArray> payload =
        m_codec.decompress(answer.compressed, answer.dictionary);
    if (!payload || !StoredPayload::decode(*payload, answer.result)) {
        m_problem = {StoreProblem::Kind::Refused,
                     QStringLiteral("the answer store ") + shown(m_path) +
                         QStringLiteral(" holds an answer that cannot be read (number %1); the "
                                        "store is left as it is")
                             .arg(answer.id)};
        m_readable = m_writable = false;
        return false;
    }
    answer.compressed.clear();
    return true;
}

bool SqlAnswerStore::readPayload(StoredAnswer &answer)
{
    if (!m_readable)
        return false;
    StoreStatement &query = prepared(StoreSql::AnswerPayload);
    query.bind(0, answer.id);
    if (!exec(query) || !query.next())
        return false;
    answer.dictionary = query.integer(0);
    answer.compressed = query.blob(1);
    query.finish();
    return true;
}

void SqlAnswerStore::finishAll()
{
    for (auto &[sql, statement] : m_queries)
        statement->finish();
}

std::optional<StoredAnswer> SqlAnswerStore::latest(const QString &asked, const QString &source,
                                                   const QString &other, Decode decode)
{
    if (!m_readable || m_empty)
        return std::nullopt;
    StoreStatement &query = prepared(StoreSql::LatestAnswer);
    query.bind(0, asked);
    query.bind(1, source);
    query.bind(2, other.isEmpty() ? source : other);
    if (!exec(query) || !query.next())
        return std::nullopt;
    StoredAnswer answer;
    const bool read = readAnswer(query, answer, decode);
    query.finish();
    if (!read)
        return std::nullopt;
    return answer;
}

bool SqlAnswerStore::latestOf(const QStringList &asked, const QString &source, const QString &other,
                              const std::function<void(StoredAnswer &&)> &row)
{
    if (!m_readable)
        return false;
    if (m_empty || asked.isEmpty())
        return true;
    for (qsizetype from = 0; from < asked.size();) {
        const bool few = asked.size() - from <= StoreSql::FewAtOnce;
        const int atOnce = few ? StoreSql::FewAtOnce : StoreSql::ManyAtOnce;
        StoreStatement &query = prepared(few ? StoreSql::LatestOfFew : StoreSql::LatestOfMany);
        query.bind(0, source);
        query.bind(1, other.isEmpty() ? source : other);
        for (int i = 0; i < atOnce; ++i)
            query.bind(2 + i, asked[qMin(from + i, asked.size() - 1)]);
        from += atOnce;
        if (!exec(query))
            return false;
        while (query.next()) {
            StoredAnswer answer;
            readAnswer(query, answer, Decode::Later);
            row(std::move(answer));
        }
        query.finish();
    }
    return true;
}

bool SqlAnswerStore::history(const QString &asked,
                             const std::function<void(const StoredAnswer &)> &row)
{
    if (!m_readable)
        return false;
    if (m_empty)
        return true;
    StoreStatement &query = prepared(StoreSql::History);
    query.bind(0, asked);
    return readAnswers(query, row);
}

bool SqlAnswerStore::changes(qint64 sinceMs, const QString &asked,
                             const std::function<void(const ChangeRow &)> &row)
{
    if (!m_readable)
        return false;
    if (m_empty)
        return true;
    StoreStatement &query =
        prepared(asked.isEmpty() ? StoreSql::ChangesSince : StoreSql::ChangesOfSince);
    int at = 0;
    if (!asked.isEmpty())
        query.bind(at++, asked);
    query.bind(at, sinceMs);
    if (!exec(query))
        return false;
    ChangeRow change;
    while (query.next()) {
        change.address = query.text(0);
        change.source = query.text(1);
        change.fact = query.text(2);
        change.before = query.text(3);
        change.after = query.text(4);
        change.seenAtMs = query.integer(5);
        row(change);
    }
    query.finish();
    return true;
}

bool SqlAnswerStore::expiring(const QString &untilUtc, const QString &asked,
                              const std::function<void(const ExpiringRow &)> &row)
{
    if (!m_readable)
        return false;
    if (m_empty)
        return true;
    StoreStatement &query = prepared(asked.isEmpty() ? StoreSql::Expiring : StoreSql::ExpiringOf);
    int at = 0;
    if (!asked.isEmpty())
        query.bind(at++, asked);
    query.bind(at, untilUtc);
    if (!exec(query))
        return false;
    ExpiringRow expiring;
    while (query.next()) {
        expiring.asked = query.text(0);
        expiring.address = query.isNull(1) ? expiring.asked : query.text(1);
        expiring.source = query.text(2);
        expiring.expires = query.text(3);
        expiring.registrar = query.text(4);
        expiring.seenMs = query.integer(5);
        row(expiring);
    }
    query.finish();
    return true;
}

bool SqlAnswerStore::allLatest(const std::function<void(const StoredAnswer &)> &row)
{
    if (!m_readable)
        return false;
    if (m_empty)
        return true;
    return readAnswers(prepared(StoreSql::AllLatest), row);
}

void SqlAnswerStore::keepSample(const QByteArray &payload)
{
    // Samples are kept only while a dictionary may become due: a few MiB of answers otherwise
    // held for nothing through a long run.
    if (m_codec.currentDictionary() != 0 &&
        m_knownAnswers + DictionarySamples < m_dictionaryBasis * DictionaryGrowth)
        return;
    // The first answers this connection writes once a dictionary may be due (the training
    // follows within a batch or two), one after another in the buffer the trainer reads: a
    // copy of a few hundred answers made at training time was the writer's largest allocation.
    if (m_sampleSizes.size() >= size_t(DictionarySamples))
        return;
    if (m_sampleSizes.empty())
        m_sampleBytes.reserve(
            std::min<qsizetype>(qsizetype(DictionarySamples) * (payload.size() + 1024), 2 << 20));
    m_sampleBytes.append(payload);
    m_sampleSizes.push_back(size_t(payload.size()));
}

void SqlAnswerStore::trainDictionaryIfDue()
{
    if (m_sampleSizes.size() < size_t(DictionarySamples))
        return;
    StoreStatement &highest = prepared(StoreSql::HighestAnswerId);
    if (!exec(highest) || !highest.next())
        return;
    const qint64 answers = highest.integer(0);
    highest.finish();
    const bool due = m_codec.currentDictionary() == 0
                         ? answers >= DictionarySamples
                         : answers >= m_dictionaryBasis * DictionaryGrowth;
    if (!due)
        return;
    const QByteArray content = RecordCodec::train(m_sampleBytes, m_sampleSizes, 64 * 1024);
    m_sampleBytes = QByteArray();
    m_sampleSizes = {};
    // Samples too alike to train on: tried again when the store has grown.
    m_dictionaryBasis = answers;
    m_knownAnswers = answers;
    if (content.isEmpty())
        return;
    StoreStatement &insert = prepared(StoreSql::InsertDictionary);
    insert.bind(0, QDateTime::currentMSecsSinceEpoch());
    insert.bind(1, answers);
    insert.bind(2, content);
    if (!exec(insert))
        return;
    const qint64 id = insert.insertedId();
    insert.finish();
    if (id > 0)
        m_codec.addDictionary(id, content, true);
}

bool SqlAnswerStore::writeOne(const PendingAnswer &pending)
{
    const LookupResult &result = pending.result;
    const qint64 digest = pending.digest != 0 ? pending.digest : answerDigest(result);
    const qint64 at = result.askedAtMs > 0 ? result.askedAtMs : QDateTime::currentMSecsSinceEpoch();
    const bool whole = isReusable(result);
    std::optional<StoredAnswer> previous;
    const QString source = sourceText(result.source);
    const QString key = pending.asked + QChar(0) + source;
    if (whole) {
        if (const auto found = m_batchLatest.constFind(key); found != m_batchLatest.cend())
            previous = *found;
        if (previous && previous->digest == digest) {
            m_batchLatest[key].lastSeenMs = qMax(previous->lastSeenMs, at);
            // The same answer again: only its time seen moves on.
            StoreStatement &touch = prepared(StoreSql::TouchAnswer);
            touch.bind(0, at);
            touch.bind(1, previous->id);
            touch.bind(2, at);
            if (!exec(touch))
                return false;
            StoreStatement &touchLatest = prepared(StoreSql::TouchLatest);
            touchLatest.bind(0, at);
            touchLatest.bind(1, pending.asked);
            touchLatest.bind(2, source);
            touchLatest.bind(3, at);
            return exec(touchLatest);
        }
    }
    // An answer older than the latest one (a slow writer elsewhere) joins the history only.
    const bool newest = whole && (!previous || previous->lastSeenMs <= at);
    if (newest && previous && !previous->compressed.isEmpty() && !decode(*previous))
        return false;
    const QList<FactFields::Change> changes =
        newest && previous ? FactFields::changes(previous->result.facts, result.facts)
                           : QList<FactFields::Change>();
    QStringList changedKeys;
    for (const FactFields::Change &change : changes)
        changedKeys << QLatin1String(change.key);

    const QByteArray payload = StoredPayload::encode(result);
    qint64 dictionary = 0;
    const QByteArray compressed = m_codec.compress(payload, dictionary);
    if (whole)
        keepSample(payload);

    StoreStatement &insert = prepared(StoreSql::InsertAnswer);
    insert.bind(0, pending.asked);
    if (result.address == pending.asked)
        insert.bindNull(1);
    else
        insert.bind(1, result.address);
    insert.bind(2, source);
    insert.bind(3, at);
    insert.bind(4, at);
    insert.bind(5, result.facts.status == RecordStatus::Unknown
                       ? QStringLiteral("unknown")
                       : recordStatusName(result.facts.status));
    insert.bind(6, digest);
    insert.bind(7, dictionary);
    insert.bind(8, compressed);
    insert.bindTextOrNull(9, changedKeys.join(QLatin1Char(' ')));
    if (!exec(insert))
        return false;
    const qint64 id = insert.insertedId();
    insert.finish();
    if (id <= 0)
        return false;
    m_knownAnswers = qMax(m_knownAnswers, id);
    if (!newest)
        return true;
    // The next answer of the same address in this batch compares with this one.
    StoredAnswer &now = m_batchLatest[key];
    now.id = id;
    now.source = source;
    now.asked = pending.asked;
    now.askedAtMs = now.lastSeenMs = at;
    now.digest = digest;
    now.result = result;
    now.compressed.clear();

    StoreStatement &upsert = prepared(StoreSql::UpsertLatest);
    upsert.bind(0, pending.asked);
    upsert.bind(1, source);
    upsert.bind(2, id);
    upsert.bind(3, at);
    upsert.bind(4, recordStatusName(result.facts.status));
    upsert.bindTextOrNull(5, result.facts.expires);
    upsert.bindTextOrNull(6, result.facts.registrar);
    if (!exec(upsert))
        return false;
    for (const FactFields::Change &change : changes) {
        StoreStatement &row = prepared(StoreSql::InsertChange);
        row.bind(0, pending.asked);
        row.bind(1, result.address);
        row.bind(2, source);
        row.bind(3, QString::fromLatin1(change.key));
        row.bind(4, change.before);
        row.bind(5, change.after);
        row.bind(6, at);
        row.bind(7, id);
        if (!exec(row))
            return false;
    }
    return true;
}

bool SqlAnswerStore::lockAddresses(std::span<const PendingAnswer> batch)
{
    if (!m_dialect.addressLock)
        return true;
    // Taken in one order (by key), so two batches sharing addresses wait for each other instead
    // of deadlocking.
    QList<qint64> keys;
    keys.reserve(qsizetype(batch.size()));
    for (const PendingAnswer &pending : batch) {
        if (pending.keepAnswer)
            keys << addressLockKey(pending.asked);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    for (const qint64 key : keys) {
        StoreStatement &lock = prepared(m_dialect.addressLock);
        lock.bind(0, key);
        if (!exec(lock))
            return false;
        lock.finish();
    }
    return true;
}

bool SqlAnswerStore::markQueueItems(std::span<const PendingAnswer> batch,
                                    QHash<qint64, QueueMarks> &byWorker, QSet<qint64> &mine)
{
    // The items answered, one statement per worker; a failure is marked on its own with its
    // reason. Only the items still the worker's are marked, and only their answers kept.
    QHash<qint64, QList<qint64>> answered; // worker -> items
    for (const PendingAnswer &pending : batch) {
        if (pending.queueItem == 0)
            continue;
        if (isReusable(pending.result)) {
            answered[pending.queueWorker] << pending.queueItem;
            continue;
        }
        StoreStatement &mark = prepared(StoreSql::MarkItem);
        mark.bind(0, QStringLiteral("failed"));
        mark.bind(1, pending.result.error.isEmpty() ? failureReasonText(pending.result.reason)
                                                    : pending.result.error);
        mark.bind(2, pending.queueItem);
        mark.bind(3, pending.queueWorker);
        if (!exec(mark))
            return false;
        const bool held = mark.rowsAffected() > 0;
        mark.finish();
        if (held)
            mine.insert(pending.queueItem);
        ++(held ? byWorker[pending.queueWorker].failed : byWorker[pending.queueWorker].lost);
    }
    for (auto it = answered.cbegin(); it != answered.cend(); ++it) {
        QStringList ids;
        for (const qint64 item : it.value())
            ids << QString::number(item);
        StoreStatement &mark = prepared(StoreSql::MarkItemsDone);
        mark.bind(0, QString(QLatin1Char('{') + ids.join(QLatin1Char(',')) + QLatin1Char('}')));
        mark.bind(1, it.key());
        if (!exec(mark))
            return false;
        qint64 held = 0;
        while (mark.next()) {
            mine.insert(mark.integer(0));
            ++held;
        }
        mark.finish();
        QueueMarks &counts = byWorker[it.key()];
        counts.done += held;
        counts.lost += it.value().size() - held;
    }
    return true;
}

bool SqlAnswerStore::write(std::span<const PendingAnswer> batch)
{
    m_busy = false;
    m_marks = {};
    if (!m_writable)
        return false;
    if (batch.empty())
        return true;
    if (!beginWrite())
        return false;
    const auto failed = [this] {
        // Nothing of the batch is kept; a busy store is tried again with all of it.
        const bool busy = m_busy;
        rollback();
        m_busy = busy;
        return false;
    };
    if (!lockAddresses(batch))
        return failed();
    // Each address's latest answer, per source, read at once inside the transaction (and, where
    // writers run side by side, under the addresses' locks).
    m_batchLatest.clear();
    QHash<QString, QStringList> askedBySource;
    for (const PendingAnswer &pending : batch) {
        if (pending.keepAnswer && isReusable(pending.result))
            askedBySource[sourceText(pending.result.source)] << pending.asked;
    }
    for (auto it = askedBySource.cbegin(); it != askedBySource.cend(); ++it) {
        const bool read = latestOf(it.value(), it.key(), {}, [&](StoredAnswer &&answer) {
            m_batchLatest.insert(answer.asked + QChar(0) + answer.source, std::move(answer));
        });
        if (!read)
            return failed();
    }
    QHash<qint64, QueueMarks> byWorker;
    QSet<qint64> mine;
    if (!markQueueItems(batch, byWorker, mine))
        return failed();
    for (const PendingAnswer &pending : batch) {
        if (pending.queueItem != 0 && !mine.contains(pending.queueItem))
            continue;
        if (pending.keepAnswer && !writeOne(pending))
            return failed();
    }
    QueueMarks marks;
    for (auto it = byWorker.cbegin(); it != byWorker.cend(); ++it) {
        marks.done += it->done;
        marks.failed += it->failed;
        marks.lost += it->lost;
        if (it->done == 0 && it->failed == 0)
            continue;
        StoreStatement &count = prepared(StoreSql::CountWorkerItems);
        count.bind(0, it->done);
        count.bind(1, it->failed);
        count.bind(2, it.key());
        if (!exec(count))
            return failed();
    }
    if (!commit())
        return false;
    m_marks = marks;
    trainDictionaryIfDue();
    return true;
}
