#include "store/sqldialect.h"

QString SqlDialect::expand(const char *text) const
{
    QString out = QString::fromLatin1(text);
    out.replace(QLatin1String("%ID%"), QLatin1String(idColumn));
    out.replace(QLatin1String("%BLOB%"), QLatin1String(blobType));
    out.replace(QLatin1String("%KEYED%"), QLatin1String(keyedTable));
    return out;
}

const SqlDialect &SqlDialect::sqlite()
{
    static const SqlDialect dialect{
        "QSQLITE",
        "INTEGER PRIMARY KEY",
        "BLOB",
        " WITHOUT ROWID",
        "BEGIN IMMEDIATE",
        "PRAGMA user_version",
        "PRAGMA user_version = %1",
        // WAL: readers never wait for the writer, and a killed process leaves every committed
        // transaction behind. NORMAL: a commit is durable once the WAL is checkpointed; a
        // process killed at any point still loses nothing committed.
        {QStringLiteral("PRAGMA journal_mode = WAL"),
         QStringLiteral("PRAGMA synchronous = NORMAL")},
        // Every connection: a store of millions of answers is read through the memory map and
        // a larger page cache rather than a read call per page.
        {QStringLiteral("PRAGMA mmap_size = 1073741824"),
         QStringLiteral("PRAGMA cache_size = -32768")},
        "SELECT COUNT(*) FROM sqlite_master",
        // SQLite's primary result codes (an extended code is code + 256 * n).
        {QStringLiteral("11"), QStringLiteral("26")}, // CORRUPT, NOTADB
        {QStringLiteral("5"), QStringLiteral("6")},   // BUSY, LOCKED
        {QStringLiteral("8")},                        // READONLY
        {QStringLiteral("13")},                       // FULL
    };
    return dialect;
}
