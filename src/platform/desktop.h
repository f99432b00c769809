#pragma once

#include <QList>
#include <QUrl>

// Opens an address or a file with the desktop's default application, without waiting.
class DesktopOpener
{
public:
    virtual ~DesktopOpener() = default;
    virtual bool openUrl(const QUrl &url) = 0;
};

class QtDesktopOpener : public DesktopOpener
{
public:
    bool openUrl(const QUrl &url) override;
};
