#pragma once

#include "platform/desktop.h"

#include <QList>
#include <QUrl>

class ScriptedDesktopOpener : public DesktopOpener
{
public:
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return succeed;
    }
    QList<QUrl> opened;
    bool succeed = true;
};
