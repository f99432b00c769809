#pragma once

#include "store/storedanswer.h"

#include <QString>

#include <functional>
#include <optional>
#include <span>

// What went wrong with a store, said once to the user.
struct StoreProblem
{
    enum class Kind
    {
        None,
        CannotOpen, // the run goes on without the store
        ReadOnly,   // answers are read but not kept
        Full,       // the disk is full: nothing more is kept
        Refused,    // damaged, not a store, written by a newer version, a link: never touched
    };
    Kind kind = Kind::None;
    QString message;

    explicit operator bool() const { return kind != Kind::None; }
};

// One answer on its way into the store.
struct PendingAnswer
{
    LookupResult result;
    QString asked;     // askedForm(result.address)
    qint64 digest = 0; // VolatileLines::digest of the record (answerDigest)
    // A queue worker's answer: the queue item it finishes and the worker. The item is marked
    // done (failed, for an answer that may not be reused) in the answer's own transaction, and
    // the answer is kept only while the item is still this worker's: once its lease ran out and
    // the item went back to the queue, another worker asks and keeps it.
    qint64 queueItem = 0;
    qint64 queueWorker = 0;
    // False for an answer given from the store: only its queue item is marked.
    bool keepAnswer = true;
};

// What a write did with the queue items of its answers.
struct QueueMarks
{
    qint64 done = 0;
    qint64 failed = 0;
    qint64 lost = 0; // no longer the worker's: neither marked nor kept
};

// One fact that changed between two consecutive whole answers of an address.
struct ChangeRow
{
    QString address;
    QString source;
    QString fact; // its JSON key
    QString before;
    QString after;
    qint64 seenAtMs = 0; // when the later answer was given
};

// A registered domain whose latest answer gives an expiry.
struct ExpiringRow
{
    QString asked;
    QString address; // as asked: the latest answers are kept by that form
    QString source;
    QString expires; // UTC, YYYY-MM-DDTHH:MM:SSZ
    QString registrar;
    qint64 seenMs = 0; // when that answer was last given
};

// The digest two answers of an address are compared by: the record without its volatile lines,
// and how the lookup ended.
qint64 answerDigest(const LookupResult &result);

// Every answer kept: whole answers and failures, each address's latest whole answer per source,
// the changes between consecutive whole answers. Used from one thread; the reads stream their
// rows to a callback and return false when the store failed (problem() says why).
class AnswerStore
{
public:
    virtual ~AnswerStore() = default;

    enum class Decode
    {
        Now,   // the answer's result filled in
        Later, // only its times and digest: decode() fills in the rest when it is wanted
    };

    // The newest whole answer of `asked` from `source` (or from `other`, when given: the newer of
    // the two).
    virtual std::optional<StoredAnswer> latest(const QString &asked, const QString &source,
                                               const QString &other = {},
                                               Decode decode = Decode::Now) = 0;
    // The newest whole answers of many addresses from `source` and `other` at once, read with
    // Decode::Later, in no particular order (an address may come once per source).
    virtual bool latestOf(const QStringList &asked, const QString &source, const QString &other,
                          const std::function<void(StoredAnswer &&)> &row) = 0;
    // Fills in the result of an answer read with Decode::Later.
    virtual bool decode(StoredAnswer &answer) = 0;
    // Every answer of `asked`, oldest first.
    virtual bool history(const QString &asked,
                         const std::function<void(const StoredAnswer &)> &row) = 0;
    // The changes seen since `sinceMs`, in time order; of one address when `asked` is given.
    virtual bool changes(qint64 sinceMs, const QString &asked,
                         const std::function<void(const ChangeRow &)> &row) = 0;
    // Registered domains whose latest expiry is at or before `untilUtc`, soonest first; of one
    // address when `asked` is given.
    virtual bool expiring(const QString &untilUtc, const QString &asked,
                          const std::function<void(const ExpiringRow &)> &row) = 0;
    // Every address's latest whole answer per source, by address.
    virtual bool allLatest(const std::function<void(const StoredAnswer &)> &row) = 0;

    // Keeps the answers in one transaction. An answer identical to the latest one of its
    // address and source only moves that one's last-seen time. False when nothing was kept:
    // busy() says whether trying again later may succeed.
    virtual bool write(std::span<const PendingAnswer> batch) = 0;
    virtual bool busy() const = 0;

    // The store's trouble, when it has one.
    virtual StoreProblem problem() const = 0;
};
