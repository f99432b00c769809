#pragma once

#include <span>

// Every statement the store runs, in one place. They are written in the SQL that SQLite and
// PostgreSQL both take (RETURNING, ON CONFLICT ... DO UPDATE, positional ? parameters, CAST where
// a parameter's type cannot be told from its column); where a system needs its own words the
// statement carries a placeholder that SqlDialect fills in. The work queue's statements are
// PostgreSQL's alone.
namespace StoreSql {

// The schema version this build writes; a store of a later version is refused.
inline constexpr int SchemaVersion = 2;
// The version that adds the work queue and the shared pace (SqlDialect::sharedWork only).
inline constexpr int WorkQueueVersion = 2;

// The statements that take a store from version `from - 1` to `from`, in order, run in one
// transaction with the new version written last. migration(1) creates the schema.
std::span<const char *const> migration(int to);

// How many addresses LatestOfMany and LatestOfFew take at once; fewer are padded by repeating
// one. The short form spares a run of a few addresses the cost of preparing and binding the
// long one (about a millisecond).
inline constexpr int ManyAtOnce = 250;
inline constexpr int FewAtOnce = 10;

// Tables.
extern const char *const LatestAnswer;     // (asked, source, source) -> one answer with payload
extern const char *const LatestOfMany;     // (source, source, ManyAtOnce asked) -> answers
extern const char *const LatestOfFew;      // (source, source, FewAtOnce asked) -> answers
extern const char *const InsertAnswer;     // -> id
extern const char *const TouchAnswer;      // last_seen moved on
extern const char *const UpsertLatest;     // the address's latest whole answer from a source
extern const char *const TouchLatest;      // its time seen moved on
extern const char *const InsertChange;     // one fact that changed
extern const char *const History;          // every answer of an address, oldest first
extern const char *const ChangesSince;     // every change since a time, in time order
extern const char *const ChangesOfSince;   // an address's changes since a time
extern const char *const Expiring;         // registered domains expiring by a time, soonest first
extern const char *const ExpiringOf;       // the same for one address
extern const char *const AllLatest;        // every address's latest answer, by address
extern const char *const Dictionary;       // a compression dictionary by id
extern const char *const AnswerPayload;    // an answer's dictionary and payload by id
extern const char *const NewestDictionary; // the newest dictionary
extern const char *const InsertDictionary; // -> id
extern const char *const HighestAnswerId;  // how many answers there have been, about
extern const char *const Dictionaries;     // the dictionaries after an id, by id

// The work queue and the shared pace (where SqlDialect::sharedWork).
extern const char *const Enqueue;          // (queue, addresses joined by LF): new open items
extern const char *const RegisterWorker;   // -> id
extern const char *const Heartbeat;        // the lease renewed -> the state it had
extern const char *const MarkLostWorkers;  // workers whose lease ran out
extern const char *const ReclaimItems;     // their items back to the queue (or given up)
extern const char *const Claim;            // up to n pending items leased -> (id, address)
extern const char *const MarkItem;         // one item finished, if still this worker's
extern const char *const MarkItemsDone;    // ({ids}, worker): those still its own done -> id
extern const char *const CountWorkerItems; // a worker's done and failed counts moved on
extern const char *const ReleaseItems;     // a stopping worker's items back to the queue
extern const char *const EndWorker;        // a worker gone: finished or stopped
extern const char *const OpenWork;         // whether items wait or others hold some
extern const char *const QueueCounts;      // items by state
extern const char *const QueueWorkers;     // the workers, by id, with the database's time
extern const char *const AcquireTurn;      // a server's turn in a pace group, if it is due
extern const char *const ReleaseTurn;      // the turn given back, the next one not before a wait

} // namespace StoreSql
