#include "cli/clierror.h"

#include <unistd.h>

void reportError(const QString &message)
{
    // One write, so the line is not interleaved with the progress line's redraws.
    const QByteArray line = "quorvane-cli: " + message.toUtf8() + '\n';
    [[maybe_unused]] const ssize_t n =
        ::write(STDERR_FILENO, line.constData(), size_t(line.size()));
}
