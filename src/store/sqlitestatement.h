#pragma once

#include "store/storestatement.h"

#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A statement run straight on an SQLite connection. Qt SQL's own statements turn every value
// into a QVariant, every text into UTF-16 and every bind into a parameter name; for the
// thousands of answers a run writes that cost more than SQLite's work itself.
class SqliteStatement : public StoreStatement
{
public:
    SqliteStatement(sqlite3 *database, const QString &sql);
    ~SqliteStatement() override;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    void bind(int index, qint64 value) override;
    void bind(int index, const QString &text) override;
    void bind(int index, const QByteArray &bytes) override;
    void bindNull(int index) override;
    void bindValue(int index, const QVariant &value) override;
    bool exec() override;
    bool next() override;
    qint64 integer(int column) const override;
    QString text(int column) const override;
    QByteArray blob(int column) const override;
    bool isNull(int column) const override;
    QVariant value(int column) const override;
    qint64 insertedId() override;
    qint64 rowsAffected() const override { return m_changes; }
    void finish() override;
    QSqlError lastError() const override { return m_error; }

private:
    bool step();
    void bindable();
    void noteError(int code);
    // Keeps a bound value's bytes until the statement is run again, so SQLite need not copy them.
    const QByteArray &keep(int index, QByteArray bytes);
    // The bytes kept for a value, to be written in place.
    QByteArray &kept(int index);

    sqlite3 *m_database;
    sqlite3_stmt *m_statement = nullptr;
    std::vector<QByteArray> m_kept;
    QSqlError m_error;
    qint64 m_changes = 0;
    bool m_rowWaiting = false; // exec() stepped onto the first row
    bool m_done = true;
};
