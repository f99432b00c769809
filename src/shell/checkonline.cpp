#include "shell/checkonline.h"

#include "platform/commandrunner.h"
#include "platform/dialogs.h"

namespace Connectivity {

QString pingCommandLine()
{
    if (qEnvironmentVariableIsSet(qPrintable(CommandVariable)))
        return qEnvironmentVariable(qPrintable(CommandVariable));
    return QStringLiteral("ping -c 1 -W 2 www.google.com");
}

bool showsReply(const QString &output)
{
    return output.contains(QLatin1String("bytes="), Qt::CaseInsensitive) ||
           output.contains(QLatin1String("ttl="), Qt::CaseInsensitive);
}

} // namespace Connectivity

void CheckOnline(CommandRunner &commands, Dialogs &dialogs, const QString &title)
{
    // An empty capture (nothing written, or the command killed before a reply) counts as
    // offline too: the warning is shown rather than waiting for output that may never come.
    const QString output = commands.capture(Connectivity::pingCommandLine(), true, false);
    if (!Connectivity::showsReply(output))
        dialogs.message(Connectivity::OfflineWarning, title, Dialogs::Icon::None);
}
