#pragma once

#include <QLoggingCategory>

// What a run does, in categories that are off unless asked for: QT_LOGGING_RULES (for instance
// "quorvane.*.info=true", or "quorvane.whois.info=true" for one), or quorvane-cli --verbose.
// Lines are written at info level; a category that is off costs one flag test per line.
Q_DECLARE_LOGGING_CATEGORY(lcRun)   // quorvane.run: the run and its scheduler (requests sent,
                                    // throttling and back-off, servers down, pauses)
Q_DECLARE_LOGGING_CATEGORY(lcWhois) // quorvane.whois: port-43 hops, referrals, the IANA cache
Q_DECLARE_LOGGING_CATEGORY(lcRdap)  // quorvane.rdap: requests, redirects, registrar links,
                                    // the bootstrap files
Q_DECLARE_LOGGING_CATEGORY(lcWeb)   // quorvane.web: the sites' pages
Q_DECLARE_LOGGING_CATEGORY(lcNet)   // quorvane.net: transfers and port-43 exchanges as they end
Q_DECLARE_LOGGING_CATEGORY(lcStore) // quorvane.store: the answer store

namespace Logging {

// Turns every quorvane category on at info level (QT_LOGGING_RULES still has the last word).
void enableVerbose();

} // namespace Logging
