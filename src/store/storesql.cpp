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
    " asked %KEYTEXT% NOT NULL,"
    " address TEXT,"
    " source %KEYTEXT% NOT NULL,"
    " asked_at BIGINT NOT NULL,"
    " last_seen BIGINT NOT NULL,"
    " status TEXT NOT NULL,"
    " digest BIGINT NOT NULL,"
    " dictionary BIGINT NOT NULL,"
    " payload %BLOB% NOT NULL,"
    " changed TEXT)",
    "CREATE INDEX answers_by_address ON answers (asked, source, asked_at)",

    "CREATE TABLE latest ("
    " asked %KEYTEXT% NOT NULL,"
    " source %KEYTEXT% NOT NULL,"
    " answer_id BIGINT NOT NULL,"
    " seen BIGINT NOT NULL,"
    " status TEXT NOT NULL,"
    " expires %KEYTEXT%,"
    " registrar TEXT,"
    " PRIMARY KEY (asked, source))%KEYED%",
    // What `expiring` filters and shows, in one range of the index; the time seen, which moves
    // with every identical answer, is left to the table so the index stays as it is.
    "CREATE INDEX latest_by_expiry ON latest (expires, status, registrar)",

    "CREATE TABLE changes ("
    " id %ID%,"
    " asked %KEYTEXT% NOT NULL,"
    " address TEXT NOT NULL,"
    " source %KEYTEXT% NOT NULL,"
    " fact TEXT NOT NULL,"
    " before_value TEXT NOT NULL,"
    " after_value TEXT NOT NULL,"
    " seen_at BIGINT NOT NULL,"
    " answer_id BIGINT NOT NULL)",
    "CREATE INDEX changes_by_time ON changes (seen_at)",
    "CREATE INDEX changes_by_address ON changes (asked, seen_at)",
};

// Version 2: the work queue that several machines share (PostgreSQL). Each queue item is an
// address waiting (pending), held by a worker (leased), or finished: done, or failed with a
// reason. An address is open (pending or leased) at most once per queue. A worker holds its
// items while its lease runs; the lease is the worker's row, renewed while it works, so an item
// goes back to the queue when its worker stops renewing. `attempts` counts the workers that took
// an item and stopped without finishing it. pace_turns holds, per pace group and server, when
// the next request may go and which request holds the turn now.
const char *const Version2[] = {
    "CREATE TABLE queue_items ("
    " id %ID%,"
    " queue %KEYTEXT% NOT NULL,"
    " address %KEYTEXT% NOT NULL,"
    " state %KEYTEXT% NOT NULL,"
    " worker BIGINT,"
    " attempts INTEGER NOT NULL,"
    " enqueued_at BIGINT NOT NULL,"
    " finished_at BIGINT,"
    " reason TEXT)",
    "CREATE UNIQUE INDEX queue_items_open ON queue_items (queue, address)"
    " WHERE state IN ('pending', 'leased')",
    "CREATE INDEX queue_items_by_state ON queue_items (queue, state, id)",

    "CREATE TABLE queue_workers ("
    " id %ID%,"
    " queue %KEYTEXT% NOT NULL,"
    " host TEXT NOT NULL,"
    " pid BIGINT NOT NULL,"
    " pace_group TEXT,"
    " state TEXT NOT NULL,"
    " started_at BIGINT NOT NULL,"
    " last_seen BIGINT NOT NULL,"
    " lease_until BIGINT NOT NULL,"
    " done BIGINT NOT NULL,"
    " failed BIGINT NOT NULL,"
    " rate DOUBLE PRECISION NOT NULL)",
    "CREATE INDEX queue_workers_by_queue ON queue_workers (queue, state)",

    "CREATE TABLE pace_turns ("
    " pace_group %KEYTEXT% NOT NULL,"
    " server %KEYTEXT% NOT NULL,"
    " next_at BIGINT NOT NULL,"
    " holder TEXT,"
    " PRIMARY KEY (pace_group, server))%KEYED%",
};

} // namespace

std::span<const char *const> migration(int to)
{
    switch (to) {
    case 1:
        return Version1;
    case 2:
        return Version2;
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
const char *const LatestOfFew =
    "SELECT " ANSWER_COLUMNS " FROM latest l JOIN answers a ON a.id = l.answer_id"
    " WHERE l.source IN (?, ?) AND l.asked IN (" Q10 ")";
#undef Q50
#undef Q10
const char *const InsertAnswer =
    "INSERT INTO answers (asked, address, source, asked_at, last_seen, status, digest, dictionary,"
    " payload, changed) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)%RETURNING_ID%";
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
const char *const AnswerPayload = "SELECT dictionary, payload FROM answers WHERE id = ?";
const char *const NewestDictionary =
    "SELECT id, answers_before, content FROM dictionaries ORDER BY id DESC LIMIT 1";
const char *const InsertDictionary =
    "INSERT INTO dictionaries (created_at, answers_before, content) VALUES (?, ?, ?)%RETURNING_ID%";
const char *const HighestAnswerId = "SELECT COALESCE(MAX(id), 0) FROM answers";
const char *const Dictionaries = "SELECT id, content FROM dictionaries WHERE id > ? ORDER BY id";

// The work queue and the shared pace. They run only where the dialect allows shared work
// (PostgreSQL): claims skip the rows other workers hold (FOR UPDATE SKIP LOCKED).
const char *const Enqueue =
    "INSERT INTO queue_items (queue, address, state, attempts, enqueued_at)"
    " SELECT ?, a.address, 'pending', 0, %NOW%"
    " FROM unnest(string_to_array(?, E'\\n')) WITH ORDINALITY AS a (address, n) ORDER BY a.n"
    " ON CONFLICT (queue, address) WHERE state IN ('pending', 'leased') DO NOTHING";
const char *const RegisterWorker =
    "INSERT INTO queue_workers (queue, host, pid, pace_group, state, started_at, last_seen,"
    " lease_until, done, failed, rate) VALUES (?, ?, ?, ?, 'working', %NOW%, %NOW%,"
    " %NOW% + CAST(? AS BIGINT), 0, 0, 0) RETURNING id";
const char *const Heartbeat =
    "UPDATE queue_workers AS w SET last_seen = %NOW%, lease_until = %NOW% + CAST(? AS BIGINT),"
    " rate = ?, state = 'working' FROM (SELECT state FROM queue_workers WHERE id = ?) AS before"
    " WHERE w.id = ? RETURNING before.state";
const char *const MarkLostWorkers =
    "UPDATE queue_workers SET state = 'lost' WHERE queue = ? AND state = 'working'"
    " AND lease_until < %NOW%";
const char *const ReclaimItems =
    "UPDATE queue_items SET attempts = attempts + 1, worker = NULL,"
    " state = CASE WHEN attempts + 1 >= ? THEN 'failed' ELSE 'pending' END,"
    " finished_at = CASE WHEN attempts + 1 >= ? THEN %NOW% ELSE NULL END,"
    " reason = CASE WHEN attempts + 1 >= ? THEN ? ELSE reason END"
    " WHERE queue = ? AND state = 'leased' AND worker IN"
    " (SELECT id FROM queue_workers WHERE queue = ? AND state <> 'working')";
// The items picked once, in a CTE: a subquery in the WHERE clause may be run again per row by
// some plans, and with SKIP LOCKED each run picks others.
const char *const Claim =
    "WITH picked AS (SELECT id FROM queue_items WHERE queue = ? AND state = 'pending'"
    " ORDER BY id LIMIT CAST(? AS BIGINT) FOR UPDATE SKIP LOCKED)"
    " UPDATE queue_items AS q SET state = 'leased', worker = ? FROM picked WHERE q.id = picked.id"
    " RETURNING q.id, q.address";
const char *const MarkItem = "UPDATE queue_items SET state = ?, finished_at = %NOW%, reason = ?"
                             " WHERE id = ? AND worker = ? AND state = 'leased'";
const char *const MarkItemsDone =
    "UPDATE queue_items SET state = 'done', finished_at = %NOW%"
    " WHERE id = ANY (CAST(? AS BIGINT[])) AND worker = ? AND state = 'leased' RETURNING id";
const char *const CountWorkerItems =
    "UPDATE queue_workers SET done = done + CAST(? AS BIGINT), failed = failed + CAST(? AS BIGINT)"
    " WHERE id = ?";
const char *const ReleaseItems = "UPDATE queue_items SET state = 'pending', worker = NULL"
                                 " WHERE queue = ? AND state = 'leased' AND worker = ?";
const char *const EndWorker =
    "UPDATE queue_workers SET state = ?, last_seen = %NOW%, lease_until = %NOW%, rate = 0"
    " WHERE id = ?";
const char *const OpenWork =
    "SELECT EXISTS (SELECT 1 FROM queue_items WHERE queue = ? AND (state = 'pending'"
    " OR (state = 'leased' AND worker <> ?)))";
const char *const QueueCounts =
    "SELECT state, COUNT(*) FROM queue_items WHERE queue = ? GROUP BY state";
const char *const QueueWorkers =
    "SELECT id, host, pid, pace_group, state, started_at, last_seen, lease_until, done, failed,"
    " rate, %NOW% FROM queue_workers WHERE queue = ? ORDER BY id";
const char *const AcquireTurn =
    "WITH t AS (SELECT %NOW% AS now)"
    " INSERT INTO pace_turns AS p (pace_group, server, next_at, holder)"
    " SELECT ?, ?, t.now + CAST(? AS BIGINT), ? FROM t"
    " ON CONFLICT (pace_group, server) DO UPDATE SET"
    " holder = CASE WHEN p.next_at <= (SELECT now FROM t) THEN excluded.holder ELSE p.holder END,"
    " next_at = CASE WHEN p.next_at <= (SELECT now FROM t) THEN excluded.next_at"
    " ELSE p.next_at END"
    " RETURNING holder, next_at, (SELECT now FROM t)";
const char *const ReleaseTurn =
    "UPDATE pace_turns SET next_at = %NOW% + CAST(? AS BIGINT), holder = NULL"
    " WHERE pace_group = ? AND server = ? AND holder = ?";

#undef ANSWER_COLUMNS

} // namespace StoreSql
