#pragma once

#include <QString>
#include <QStringList>

// What differs between the database systems the store runs on. Every statement is written once
// (storesql.cpp) in the SQL both systems take; the few places where one of them needs its own
// words are filled in from here.
struct SqlDialect
{
    const char *driver; // the Qt SQL driver
    // Replaces %ID% in the schema: a table's own 64-bit key, given by the database.
    const char *idColumn;
    // Replaces %BLOB%: bytes.
    const char *blobType;
    // Replaces %KEYED%: after a table whose primary key is all it is looked up by.
    const char *keyedTable;
    // Starts a transaction that writes, taking the write lock at once so two writers never
    // deadlock upgrading a read.
    const char *beginWrite;
    // The schema version kept in the database: read (one row, one number) and written (%1).
    const char *readVersion;
    const char *writeVersion;
    // Run on every new connection that may write.
    QStringList sessionSetup;
    // Run on every new connection.
    QStringList readSetup;
    // Asks whether the database holds any table (one row, one number) -- a version-0 database
    // with tables is not a store.
    const char *countTables;
    // The error codes (the driver's native codes) that say the database is damaged or is not a
    // database, that it is busy, that it is read-only, and that the disk is full.
    QStringList corruptCodes;
    QStringList busyCodes;
    QStringList readOnlyCodes;
    QStringList fullCodes;

    // `text` with the %ID%, %BLOB% and %KEYED% placeholders filled in.
    QString expand(const char *text) const;

    static const SqlDialect &sqlite();
};
