#pragma once

#include <QString>

// A plain explanation when there is no display to show the window on, or empty when there is.
// `command` is how the program was started, so the suggested line works as it is pasted.
inline QString missingDisplayMessage(const QString &command)
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith(QStringLiteral("xcb")) &&
        !platform.startsWith(QStringLiteral("wayland")))
        return {};
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    return QStringLiteral(
               "Quorvane needs a graphical display, and none is available here (DISPLAY and "
               "WAYLAND_DISPLAY are not set).\n"
               "To start it on a virtual display, run:\n"
               "    xvfb-run -a -s '-screen 0 1280x1024x24' ") +
           command + QLatin1Char('\n');
}
