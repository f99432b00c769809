#include "store/storesql.h"

namespace StoreSql {

namespace {

// Version 1. Times are milliseconds since 1970 UTC; `asked` is the address as asked (its ASCII
// form), `address` as typed when that differs. An answer identical to the previous one from the
// same source only moves that one's last_seen. `latest` points at each address's latest whole
// answer per source; `changes` has a row per fact that differed between two consecutive whole
// answers. The payload is the compressed record, servers and facts (storedanswer.cpp).
const char *const Version1[] = {
    "CREATE TABLE dictionaries ("
    " id %ID%,"
    " created_at BIGINT NOT NULL,"
    " answers_before BIGINT NOT NULL,"
    " content %BLOB% NOT NULL)",

    "CREATE TABLE answers ("
    " id %ID%,"
    " asked TEXT NOT NULL,"
    " address TEXT,"
    " source TEXT NOT NULL,"
    " asked_at BIGINT NOT NULL,"
    " last_seen BIGINT NOT NULL,"
    " status TEXT NOT NULL,"
    " digest BIGINT NOT NULL,"
    " dictionary BIGINT NOT NULL,"
    " payload %BLOB% NOT NULL,"
    " changed TEXT)",
    "CREATE INDEX answers_by_address ON answers (asked, source, asked_at)",

    "CREATE TABLE latest ("
    " asked TEXT NOT NULL,"
    " source TEXT NOT NULL,"
    " answer_id BIGINT NOT NULL,"
    " seen BIGINT NOT NULL,"
    " status TEXT NOT NULL,"
    " expires TEXT,"
    " registrar TEXT,"
    " PRIMARY KEY (asked, source))%KEYED%",
    // What `expiring` filters and shows, in one range of the index; the time seen, which moves
    // with every identical answer, is left to the table so the index stays as it is.
    "CREATE INDEX latest_by_expiry ON latest (expires, status, registrar)",

    "CREATE TABLE changes ("
    " id %ID%,"
    " asked TEXT NOT NULL,"
    " address TEXT NOT NULL,"
    " source TEXT NOT NULL,"
    " fact TEXT NOT NULL,"
    " before_value TEXT NOT NULL,"
    " after_value TEXT NOT NULL,"
    " seen_at BIGINT NOT NULL,"
    " answer_id BIGINT NOT NULL)",
    "CREATE INDEX changes_by_time ON changes (seen_at)",
    "CREATE INDEX changes_by_address ON changes (asked, seen_at)",
};

} // namespace

std::span<const char *const> migration(int to)
{
    switch (to) {
    case 1:
        return Version1;
    default:
        return {};
    }
}

// The answer columns every reader takes, in this order (SqlAnswerStore::readAnswer).
#define ANSWER_COLUMNS                                                                             \
    "a.id, a.asked, a.address, a.source, a.asked_at, a.last_seen, a.status, a.digest, "            \
    "a.dictionary, a.payload, a.changed"

const char *const LatestAnswer =
    "SELECT " ANSWER_COLUMNS " FROM latest l JOIN answers a ON a.id = l.answer_id"
    " WHERE l.asked = ? AND l.source IN (?, ?) ORDER BY l.seen DESC";
// 250 placeholders, written out so the statement is a constant like the others.
#define Q10 "?, ?, ?, ?, ?, ?, ?, ?, ?, ?"
#define Q50 Q10 ", " Q10 ", " Q10 ", " Q10 ", " Q10
const char *const LatestOfMany =
    "SELECT " ANSWER_COLUMNS " FROM latest l JOIN answers a ON a.id = l.answer_id"
    " WHERE l.source IN (?, ?) AND l.asked IN (" Q50 ", " Q50 ", " Q50 ", " Q50 ", " Q50 ")";
#undef Q50
#undef Q10
const char *const InsertAnswer =
    "INSERT INTO answers (asked, address, source, asked_at, last_seen, status, digest, dictionary,"
    " payload, changed) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id";
const char *const TouchAnswer = "UPDATE answers SET last_seen = ? WHERE id = ? AND last_seen < ?";
const char *const UpsertLatest =
    "INSERT INTO latest (asked, source, answer_id, seen, status, expires, registrar)"
    " VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (asked, source) DO UPDATE SET"
    " answer_id = excluded.answer_id, seen = excluded.seen, status = excluded.status,"
    " expires = excluded.expires, registrar = excluded.registrar";
const char *const TouchLatest =
    "UPDATE latest SET seen = ? WHERE asked = ? AND source = ? AND seen < ?";
const char *const InsertChange =
    "INSERT INTO changes (asked, address, source, fact, before_value, after_value, seen_at,"
    " answer_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
const char *const History =
    "SELECT " ANSWER_COLUMNS " FROM answers a WHERE a.asked = ? ORDER BY a.asked_at, a.id";
const char *const ChangesSince =
    "SELECT address, source, fact, before_value, after_value, seen_at FROM changes"
    " WHERE seen_at >= ? ORDER BY seen_at, id";
const char *const ChangesOfSince =
    "SELECT address, source, fact, before_value, after_value, seen_at FROM changes"
    " WHERE asked = ? AND seen_at >= ? ORDER BY seen_at, id";
const char *const Expiring =
    "SELECT l.asked, NULL, l.source, l.expires, l.registrar, l.seen FROM latest l"
    " WHERE l.expires <= ? AND l.status = 'registered' ORDER BY l.expires, l.asked, l.source";
const char *const ExpiringOf =
    "SELECT l.asked, NULL, l.source, l.expires, l.registrar, l.seen FROM latest l"
    " WHERE l.asked = ? AND l.expires <= ? AND l.status = 'registered'";
const char *const AllLatest =
    "SELECT " ANSWER_COLUMNS " FROM latest l JOIN answers a ON a.id = l.answer_id"
    " ORDER BY l.asked, l.source";
const char *const Dictionary = "SELECT content FROM dictionaries WHERE id = ?";
const char *const NewestDictionary =
    "SELECT id, answers_before, content FROM dictionaries ORDER BY id DESC LIMIT 1";
const char *const InsertDictionary =
    "INSERT INTO dictionaries (created_at, answers_before, content) VALUES (?, ?, ?) RETURNING id";
const char *const HighestAnswerId = "SELECT COALESCE(MAX(id), 0) FROM answers";

#undef ANSWER_COLUMNS

} // namespace StoreSql
