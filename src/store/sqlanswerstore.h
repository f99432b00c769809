#pragma once

#include "store/answerstore.h"
#include "store/qtstorestatement.h"
#include "store/recordcodec.h"
#include "store/sqldialect.h"
#include "store/storelocation.h"

#include <QSqlDatabase>

#include <memory>
#include <unordered_map>
#include <vector>

struct sqlite3;

// The store in a database reached through Qt SQL: an SQLite file by default, or PostgreSQL when
// many machines share it. Each instance holds its own connection and is used from the thread
// that opened it.
class SqlAnswerStore : public AnswerStore
{
public:
    enum class Access
    {
        ReadWrite, // made when missing; read-only when the file cannot be written
        ReadOnly,  // never made, never written
    };

    // Opens the store at `location` (its schema made or brought up to date when it may be
    // written). Always returns a store: check problem() -- a store refused or not opened reads
    // nothing and keeps nothing.
    static std::unique_ptr<SqlAnswerStore> open(const StoreLocation &location, Access access);
    static std::unique_ptr<SqlAnswerStore> open(const QString &path, Access access)
    {
        return open(StoreLocation::file(path), access);
    }
    ~SqlAnswerStore() override;

    std::optional<StoredAnswer> latest(const QString &asked, const QString &source,
                                       const QString &other = {},
                                       Decode decode = Decode::Now) override;
    bool decode(StoredAnswer &answer) override;
    // Reads the payload of an answer read earlier without it, by its number; false when it is
    // gone or cannot be read.
    bool readPayload(StoredAnswer &answer);
    // The connection's page cache, where the database keeps one per connection.
    void setPageCacheKiB(int kib);
    bool latestOf(const QStringList &asked, const QString &source, const QString &other,
                  const std::function<void(StoredAnswer &&)> &row) override;
    bool history(const QString &asked,
                 const std::function<void(const StoredAnswer &)> &row) override;
    bool changes(qint64 sinceMs, const QString &asked,
                 const std::function<void(const ChangeRow &)> &row) override;
    bool expiring(const QString &untilUtc, const QString &asked,
                  const std::function<void(const ExpiringRow &)> &row) override;
    bool allLatest(const std::function<void(const StoredAnswer &)> &row) override;
    bool write(std::span<const PendingAnswer> batch) override;
    // What the last successful write did with its answers' queue items.
    QueueMarks lastMarks() const { return m_marks; }
    bool busy() const override { return m_busy; }
    StoreProblem problem() const override { return m_problem; }

    // True when reads may find something (opened, not refused).
    bool readable() const { return m_readable; }
    // True when answers may be kept.
    bool writable() const { return m_writable; }
    // SQLite: once the write-ahead log has grown past LogKeptBytes, copies it into the store and
    // empties it, when no other connection is using it at this moment (never waiting). The next
    // process to open the store reads all of the log when it starts (up to 4 MiB before SQLite
    // copies it on its own); a small log costs less to read than copying costs (three syncs).
    void emptyLog();
    static constexpr qint64 LogKeptBytes = 256 * 1024;

    const SqlDialect &dialect() const { return m_dialect; }
    const StoreLocation &location() const { return m_location; }

    // For the work queue and the shared pace, which run their own statements (storesql.h) on
    // this connection with the same error handling: a statement prepared once (its
    // placeholders filled in), run (false and problem() set on failure), and a transaction.
    StoreStatement &prepared(const char *sql);
    bool exec(StoreStatement &statement);
    bool beginWrite();
    bool commit();
    void rollback();

    // The store trains a compression dictionary after this many answers, and a new one each
    // time the answers grow this many times over.
    static constexpr int DictionarySamples = 400;
    static constexpr int DictionaryGrowth = 16;

private:
    SqlAnswerStore(const SqlDialect &dialect, const StoreLocation &location);

    bool openDatabase(Access access);
    bool connectPostgres();
    bool migrate(int from);
    bool execText(const QString &sql);
    // A statement of its own on this connection: one to be `reused` with new values, or one run
    // as it is.
    std::unique_ptr<StoreStatement> statement(const QString &sql, bool reused = false) const;
    bool lockAddresses(std::span<const PendingAnswer> batch);
    bool markQueueItems(std::span<const PendingAnswer> batch, QHash<qint64, QueueMarks> &byWorker,
                        QSet<qint64> &mine);
    void noteError(const QSqlError &error);
    bool readAnswer(const StoreStatement &query, StoredAnswer &out, Decode decode = Decode::Now);
    // Runs a prepared query of answer columns and hands each decoded answer to `row`.
    bool readAnswers(StoreStatement &query, const std::function<void(const StoredAnswer &)> &row);
    void finishAll();
    bool loadDictionary(qint64 id);
    void keepSample(const QByteArray &payload);
    void trainDictionaryIfDue();
    bool writeOne(const PendingAnswer &pending);
    // The latest answers of a batch's addresses, read in one go at the start of its
    // transaction and kept up to date as the batch is written, by asked + source.
    QHash<QString, StoredAnswer> m_batchLatest;

    const SqlDialect &m_dialect;
    StoreLocation m_location;
    QString m_path; // as messages name it
    QString m_connection;
    QSqlDatabase m_db; // PostgreSQL's, through Qt SQL
    // An SQLite store's connection, on SQLite's own interface (Qt's driver is a plugin to load
    // and a layer of QVariants and UTF-16 over it).
    sqlite3 *m_sqlite = nullptr;
    // Where dictionaries are read while another statement's rows are (!nestedReads).
    QString m_sideConnection;
    std::unordered_map<const char *, std::unique_ptr<StoreStatement>> m_queries;
    RecordCodec m_codec;
    StoreProblem m_problem;
    bool m_readable = false;
    bool m_writable = false;
    bool m_empty = false; // opened read-only before any schema was written
    bool m_busy = false;
    bool m_lost = false;          // the connection is gone: nothing more is sent
    QtStoreStatement m_deadQuery; // what prepared() gives once it is
    QueueMarks m_marks;
    int m_errors = 0; // counts the failures noted, so a caller sees one happen

    // The payloads the next dictionary is trained on, joined, and their sizes.
    QByteArray m_sampleBytes;
    std::vector<size_t> m_sampleSizes;
    qint64 m_dictionaryBasis = 0; // the highest answer id when the current dictionary was made
    qint64 m_knownAnswers = 0;    // the highest answer id this connection has seen
};
