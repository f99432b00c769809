#pragma once

#include "lookup/answermemory.h"
#include "lookup/source.h"
#include "net/connectto.h"
#include "net/proxysettings.h"
#include "net/whois43client.h"
#include "rdap/rdapbootstrap.h"
#include "run/runsources.h"
#include "web/sitefetcher.h"
#include "web/sites.h"
#include "whois/whoisreferral.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class RdapBootstrapStore;

// What a run asks with, and how politely.
struct RunOptions
{
    // Read afresh for every address: the source to ask. When unset, `site` decides.
    std::function<std::optional<SourceKind>()> source;
    // Read afresh for every address when `source` is unset: nothing means no site is chosen
    // (the record stays empty).
    std::function<std::optional<Site>()> site;
    // Read afresh after every answer: the pause before the next request to the same server,
    // in seconds as typed.
    std::function<QString()> delayText;
    // How the delay reads: rounded to a whole second in the user's locale (the window), or to
    // the millisecond in the C locale (the command line: "0.5" is half a second).
    bool delayInWholeSeconds = true;
    // The window keeps a pause after the last answer before it says it is done; the command
    // line ends the run when its last lookup ends (a pause protects only a next request).
    bool pauseAfterLast = true;
    // At most this many servers with a request in flight at once.
    int parallel = 8;
    // Results keep the answer they were read from (LookupResult::answer); otherwise it is
    // dropped as each lookup ends.
    bool keepAnswers = false;
    // Makes the run's sources; unset: StandardSources over the options below.
    SourceFactory sourceFactory;

    // What the standard sources are made with.
    SiteTable sites = SiteTable::fromEnvironment();
    FetchLimits limits;
    // Port 43 and RDAP: where connections really go (QUORVANE_CONNECT_TO, read once).
    ConnectToMap connectTo = environmentConnectTo();
    // The proxies every source goes through (the environment's, read once, unless set).
    ProxySettings proxy = environmentProxy();
    Whois43Limits whoisLimits;
    // RDAP: the deadline of each answer.
    int rdapTimeoutMs = 30000;
    // Port 43: ask this server first instead of IANA; its referrals are followed unless
    // followReferrals is off (then it is the only server asked).
    std::optional<WhoisServer> whoisServer;
    bool followReferrals = true;
    // Where IANA's port-43 answers are kept; empty: $XDG_CACHE_HOME/Quorvane.
    QString cacheFolder;
    // The RDAP bootstrap to use; unset: the cached files (refreshed when a day old) or the
    // built-in snapshot.
    std::shared_ptr<const RdapBootstrap> rdapBootstrap;
    // Where the bootstrap files are kept when `rdapBootstrap` is unset: a store the caller
    // keeps across runs (and which outlives the run), so only the first run fetches them. None:
    // the run makes its own.
    RdapBootstrapStore *rdapBootstrapStore = nullptr;
    // Port 43 and RDAP: keep the fields of notice lines (terms of use, disclaimers) in the
    // results; off, they are left out (dropNoticeFields).
    bool keepNotices = false;
    // Answers kept from earlier runs: a young enough one is given instead of asking, and every
    // finished lookup is kept there. Not owned; none: every address is asked and nothing kept.
    AnswerMemory *memory = nullptr;

    // QUORVANE_CONNECT_TO, read on first use and kept for the life of the process.
    static ConnectToMap environmentConnectTo();
    // The proxy variables, read on first use and kept for the life of the process.
    static ProxySettings environmentProxy();
};
