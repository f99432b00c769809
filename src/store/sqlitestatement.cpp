#include "store/sqlitestatement.h"

#include "text/asciinarrow.h"

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3 *database, const QString &sql) : m_database(database)
{
    const QByteArray text = sql.toUtf8();
    const int code = sqlite3_prepare_v3(m_database, text.constData(), int(text.size()),
                                        SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr);
    if (code != SQLITE_OK) {
        noteError(code);
        m_statement = nullptr;
        return;
    }
    m_kept.resize(size_t(sqlite3_bind_parameter_count(m_statement)));
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

void SqliteStatement::bindable()
{
    // A statement stepped into its rows takes no new values until it is reset (they would be
    // refused, and the last values used again).
    if (sqlite3_stmt_busy(m_statement))
        finish();
}

QByteArray &SqliteStatement::kept(int index)
{
    if (size_t(index) >= m_kept.size())
        m_kept.resize(size_t(index) + 1);
    return m_kept[size_t(index)];
}

const QByteArray &SqliteStatement::keep(int index, QByteArray bytes)
{
    return kept(index) = std::move(bytes);
}

void SqliteStatement::bind(int index, qint64 value)
{
    bindable();
    sqlite3_bind_int64(m_statement, index + 1, value);
}

void SqliteStatement::bind(int index, const QString &text)
{
    bindable();
    // ASCII (addresses, sources, statuses) is its own UTF-8: written into the bytes kept from
    // the last run, which have room for it after the first.
    QByteArray &utf8 = kept(index);
    utf8.resize(text.size());
    if (!narrowAscii(text, utf8.data()))
        utf8 = text.toUtf8();
    // A null QByteArray's data is "" all the same: an empty text, never NULL.
    sqlite3_bind_text(m_statement, index + 1, utf8.constData(), int(utf8.size()), SQLITE_STATIC);
}

void SqliteStatement::bind(int index, const QByteArray &bytes)
{
    bindable();
    const QByteArray &kept = keep(index, bytes);
    sqlite3_bind_blob(m_statement, index + 1, kept.constData(), int(kept.size()), SQLITE_STATIC);
}

void SqliteStatement::bindNull(int index)
{
    bindable();
    sqlite3_bind_null(m_statement, index + 1);
}

void SqliteStatement::bindValue(int index, const QVariant &value)
{
    if (value.isNull()) {
        bindNull(index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        bind(index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        bindable();
        sqlite3_bind_double(m_statement, index + 1, value.toDouble());
        break;
    case QMetaType::QByteArray:
        bind(index, value.toByteArray());
        break;
    default:
        bind(index, value.toString());
        break;
    }
}

bool SqliteStatement::exec()
{
    if (!m_statement)
        return false; // the error of the prepare stays
    sqlite3_reset(m_statement);
    m_error = QSqlError();
    m_rowWaiting = false;
    m_done = false;
    if (!step())
        return m_error.type() == QSqlError::NoError;
    m_rowWaiting = true;
    return true;
}

qint64 SqliteStatement::insertedId()
{
    return m_done && m_changes > 0 && m_error.type() == QSqlError::NoError
               ? sqlite3_last_insert_rowid(m_database)
               : 0;
}

bool SqliteStatement::step()
{
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    m_done = true;
    if (code == SQLITE_DONE) {
        m_changes = sqlite3_changes64(m_database);
        sqlite3_reset(m_statement);
        return false;
    }
    noteError(code);
    // The statement is ready to run again; a failed write's transaction is the caller's.
    sqlite3_reset(m_statement);
    return false;
}

bool SqliteStatement::next()
{
    if (m_rowWaiting) {
        m_rowWaiting = false;
        return true;
    }
    return !m_done && step();
}

qint64 SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::text(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_statement, column));
}

QByteArray SqliteStatement::blob(int column) const
{
    const auto *bytes = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    return QByteArray(bytes, sqlite3_column_bytes(m_statement, column));
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QVariant SqliteStatement::value(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return integer(column);
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_statement, column);
    case SQLITE_BLOB:
        return blob(column);
    case SQLITE_NULL:
        return QVariant(QMetaType(QMetaType::QString));
    default:
        return text(column);
    }
}

void SqliteStatement::finish()
{
    sqlite3_reset(m_statement);
    m_rowWaiting = false;
    m_done = true;
}

void SqliteStatement::noteError(int code)
{
    // The driver's way: its native code is the extended result code, its words SQLite's own.
    m_error = QSqlError(
        QStringLiteral("Unable to execute statement"),
        QString::fromUtf8(sqlite3_errmsg(m_database)), QSqlError::StatementError,
        QString::number(code == SQLITE_ERROR ? sqlite3_extended_errcode(m_database) : code));
}
