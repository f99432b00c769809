#include "platform/desktop.h"

#include <QDesktopServices>

bool QtDesktopOpener::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}
