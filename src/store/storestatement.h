#pragma once

#include <QByteArray>
#include <QSqlError>
#include <QString>
#include <QVariant>

// One prepared statement of the store, run again and again with new values: bound by position
// from 0, run, its rows read one by one. The typed binds and reads are what the store's own
// hot paths use; the QVariant ones serve the rest.
class StoreStatement
{
public:
    virtual ~StoreStatement() = default;

    virtual void bind(int index, qint64 value) = 0;
    virtual void bind(int index, const QString &text) = 0; // an empty text is bound as ''
    virtual void bind(int index, const QByteArray &bytes) = 0;
    virtual void bindNull(int index) = 0;
    virtual void bindValue(int index, const QVariant &value) = 0;
    void bind(int index, int value) { bind(index, qint64(value)); }
    void bindTextOrNull(int index, const QString &text)
    {
        if (text.isEmpty())
            bindNull(index);
        else
            bind(index, text);
    }

    // Runs the statement; false when the database failed (lastError() says why).
    virtual bool exec() = 0;
    // Moves to the next row of the results; false when there is none.
    virtual bool next() = 0;
    virtual qint64 integer(int column) const = 0;
    virtual QString text(int column) const = 0;
    virtual QByteArray blob(int column) const = 0;
    virtual bool isNull(int column) const = 0;
    virtual QVariant value(int column) const = 0;
    // The id the database gave the row the last run inserted (an insert ending in
    // %RETURNING_ID%), 0 when there is none.
    virtual qint64 insertedId() = 0;
    // Rows the last run changed.
    virtual qint64 rowsAffected() const = 0;
    // Done with the rows: the statement lets go of them (and of its read lock).
    virtual void finish() = 0;
    virtual QSqlError lastError() const = 0;
};
