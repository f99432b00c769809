#pragma once

#include <QString>

#include <optional>

// Where the answer store lives: an SQLite file (the default), or a PostgreSQL database that
// many machines share, named as postgresql://USER@HOST[:PORT]/DB. The password never appears
// here: libpq reads PGPASSWORD or ~/.pgpass itself.
struct StoreLocation
{
    enum class Kind
    {
        File,
        Postgres,
    };
    Kind kind = Kind::File;
    QString path; // File

    // Postgres: an empty part is left to libpq's defaults (PGUSER, PGHOST, PGPORT, PGDATABASE).
    QString user;
    QString host;
    int port = -1;
    QString database;
    // Further connection parameters from the URL's query (sslmode=require, ...), as libpq's
    // "key=value" words, space-separated.
    QString parameters;

    bool isPostgres() const { return kind == Kind::Postgres; }
    // How messages name it: the path, or the URL as given (it holds no password).
    QString shown() const;

    static StoreLocation file(const QString &path);
    // Reads a --store value: a postgresql:// (or postgres://) URL, anything else a file path.
    // Nothing, and `error` set, for a URL that cannot be used: one carrying a password, one
    // without a database, a malformed port or parameter.
    static std::optional<StoreLocation> parse(const QString &text, QString *error);
    static bool looksLikeUrl(const QString &text);

private:
    QString m_url; // as given, for shown()
};
