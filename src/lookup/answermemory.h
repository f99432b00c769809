#pragma once

#include "lookup/lookupresult.h"
#include "lookup/source.h"

#include <optional>

// What a run remembers from earlier runs: answers kept before, which may stand for asking a
// server again while they are young enough, and the place every new answer is kept. The run
// calls it on its own thread; an implementation keeps its writes off that thread.
class AnswerMemory
{
public:
    virtual ~AnswerMemory() = default;

    // The addresses about to be looked up with `kind`, in one batch: a memory may read what it
    // knows of them at once rather than one by one. Optional.
    virtual void expect(const QStringList &addresses, SourceKind kind)
    {
        Q_UNUSED(addresses);
        Q_UNUSED(kind);
    }

    // Whether any kept answer may be given instead of asking (an age is allowed and the
    // memory can be read); when not, a run does not ask `reusable`.
    virtual bool reuses() const { return true; }
    // A kept answer for `address` young enough to be given instead of asking `kind`'s servers
    // (from_store set, asked_at the time its server last gave it), or nothing.
    virtual std::optional<LookupResult> reusable(const QString &address, SourceKind kind) = 0;
    // A lookup just ended: sets `result.changed` against the address's previous kept answer and
    // keeps the result.
    virtual void keep(LookupResult &result) = 0;
};
