#pragma once

#include "lookup/source.h"

#include <functional>
#include <memory>

class PoliteScheduler;

// The sources a run asks through. The run asks for a kind when an address needs it; the set
// makes each source on first use, all asking through the run's scheduler, and keeps the
// transports they share. It goes before the scheduler its sources' callbacks point into.
class RunSources
{
public:
    // Something the user should hear of once (the RDAP bootstrap could not be fetched, or kept).
    using Notice = std::function<void(const QString &text)>;

    virtual ~RunSources() = default;

    // The source for `kind`; nullptr when the set has none for it.
    virtual Source *source(SourceKind kind) = 0;
    // Ends every lookup and transfer under way; none of their callbacks follows.
    virtual void abortAll() = 0;
};

// Makes the sources of one run around that run's scheduler; they say what the user should hear
// of through `notice`.
using SourceFactory = std::function<std::unique_ptr<RunSources>(PoliteScheduler &scheduler,
                                                                const RunSources::Notice &notice)>;
