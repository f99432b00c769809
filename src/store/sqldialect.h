#pragma once

#include <QString>
#include <QStringList>

// What differs between the database systems the store runs on. Every statement is written once
// (storesql.cpp) in the SQL both systems take; the few places where one of them needs its own
// words are filled in from here.
struct SqlDialect
{
    const char *driver; // the Qt SQL driver (none for SQLite)
    // Replaces %ID% in the schema: a table's own 64-bit key, given by the database.
    const char *idColumn;
    // Replaces %BLOB%: bytes.
    const char *blobType;
    // Replaces %KEYED%: after a table whose primary key is all it is looked up by.
    const char *keyedTable;
    // Replaces %KEYTEXT%: text that keys, orders and compares byte by byte.
    const char *keyText;
    // Replaces %NOW%: the database's own clock in milliseconds since 1970, which every machine
    // sharing the database agrees on (leases, paces).
    const char *nowMs;
    // Replaces %RETURNING_ID%: what an insert adds to return its new row's id, read with
    // StoreStatement::insertedId(); empty where the connection tells it (SQLite, whose
    // RETURNING builds a temporary table on every run: a good part of an insert's cost).
    const char *returningId;
    // Starts a transaction that writes, taking the write lock at once so two writers never
    // deadlock upgrading a read.
    const char *beginWrite;
    // Run after beginWrite before the schema is changed, so two processes starting on one new
    // database do not both make it; nullptr when beginWrite already does so.
    const char *schemaLock;
    // Run before an address's answer is written, its key bound (answerLockKey), so two writers
    // of one address take turns comparing it with its latest answer; nullptr when beginWrite
    // already does so.
    const char *addressLock;
    // The schema version kept in the database: read (one row, one number) and written (%1).
    const char *readVersion;
    const char *writeVersion;
    // Run on every new connection that may write.
    QStringList sessionSetup;
    // Run on every new connection.
    QStringList readSetup;
    // Sets the connection's page cache in KiB (%1); nullptr where the server keeps the cache.
    const char *pageCacheKiB;
    // Asks whether the database holds any table the store would make (one row, one number) --
    // a version-0 database with such tables is not a store.
    const char *countTables;
    // Whether a statement may run while the rows of another are still being read on the same
    // connection (PostgreSQL's driver reads rows one by one from the server and drops them).
    bool nestedReads;
    // Whether the driver's error codes are SQLite's, an extended code carrying its primary code
    // in its low byte.
    bool extendedCodes;
    // Whether the work queue and shared pace may live here: they need row locks that other
    // writers skip (FOR UPDATE SKIP LOCKED).
    bool sharedWork;
    // The error codes (the driver's native codes) that say the database is damaged or is not a
    // database, that it is busy, that it is read-only, and that the disk is full.
    QStringList corruptCodes;
    QStringList busyCodes;
    QStringList readOnlyCodes;
    QStringList fullCodes;
    // The codes that say the connection to the database is gone (an empty code: the driver
    // had no answer from the server at all).
    QStringList lostCodes;
    // A code, as noteError compares it.
    QString codeOf(const QString &native) const;

    // `text` with the %ID%, %BLOB%, %KEYED%, %KEYTEXT%, %NOW% and %RETURNING_ID% placeholders
    // filled in.
    QString expand(const char *text) const;

    static const SqlDialect &sqlite();
    static const SqlDialect &postgres();
};
