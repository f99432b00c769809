#include "cli/clierror.h"

#include "cli/progressline.h"

#include <unistd.h>

void reportError(const QString &message)
{
    // One write, on a line of its own: a progress line drawn there goes first.
    ProgressLine::eraseShown();
    const QByteArray line = "quorvane-cli: " + message.toUtf8() + '\n';
    [[maybe_unused]] const ssize_t n =
        ::write(STDERR_FILENO, line.constData(), size_t(line.size()));
}
