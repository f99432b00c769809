#pragma once

#include <QString>

class CommandRunner;
class Dialogs;

namespace Connectivity {

inline const QString OfflineWarning =
    QStringLiteral("You must be online to use this software accurately.");
inline const QString CommandVariable = QStringLiteral("QUORVANE_PING_COMMAND");

// One echo request to a well-known public host, waiting at most two seconds for the reply;
// QUORVANE_PING_COMMAND replaces it when set.
QString pingCommandLine();
// True when the captured ping output holds a reply line: "bytes=" (the form with the reply's
// size) or "ttl=" (printed in every reply line here), in any case.
bool showsReply(const QString &output);

} // namespace Connectivity

// Pings once and warns (OK only, no icon, the given title) when no reply came. Advisory only:
// start-up goes on either way.
void CheckOnline(CommandRunner &commands, Dialogs &dialogs, const QString &title);
