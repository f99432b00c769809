#pragma once

#include "store/storestatement.h"

#include <QSqlQuery>

// A statement run through Qt SQL's driver (PostgreSQL's, or any other).
class QtStoreStatement : public StoreStatement
{
public:
    // A statement that fails whenever it is run: `database` is not open.
    QtStoreStatement() = default;
    // `prepared`: prepared once on the server, run again and again with new values; otherwise
    // the text is sent as it is each time it is run (a statement without values, run once:
    // some cannot be prepared).
    QtStoreStatement(const QSqlDatabase &database, const QString &sql, bool prepared);

    void bind(int index, qint64 value) override { m_query.bindValue(index, value); }
    void bind(int index, const QString &text) override { m_query.bindValue(index, text); }
    void bind(int index, const QByteArray &bytes) override { m_query.bindValue(index, bytes); }
    void bindNull(int index) override;
    void bindValue(int index, const QVariant &value) override { m_query.bindValue(index, value); }
    bool exec() override { return m_text.isEmpty() ? m_query.exec() : m_query.exec(m_text); }
    bool next() override { return m_query.next(); }
    qint64 integer(int column) const override { return m_query.value(column).toLongLong(); }
    QString text(int column) const override { return m_query.value(column).toString(); }
    QByteArray blob(int column) const override { return m_query.value(column).toByteArray(); }
    bool isNull(int column) const override { return m_query.isNull(column); }
    QVariant value(int column) const override { return m_query.value(column); }
    qint64 insertedId() override { return next() ? integer(0) : 0; }
    qint64 rowsAffected() const override { return m_query.numRowsAffected(); }
    void finish() override { m_query.finish(); }
    QSqlError lastError() const override { return m_query.lastError(); }

private:
    QSqlQuery m_query;
    QString m_text; // the statement sent as it is, when not prepared
};
