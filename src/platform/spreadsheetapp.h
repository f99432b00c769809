#pragma once

#include <QString>
#include <QStringList>

// The desktop's spreadsheet application.
class SpreadsheetApp
{
public:
    virtual ~SpreadsheetApp() = default;
    // True when an application is registered for .xlsx workbooks or LibreOffice is on PATH.
    virtual bool isInstalled() = 0;
    // Opens the workbook file with that application, without waiting.
    virtual bool open(const QString &path) = 0;
};

// The real one: an application registered for the .xlsx type (xdg-mime) or a LibreOffice
// program on PATH; files are opened through the desktop's default application.
class XdgSpreadsheetApp : public SpreadsheetApp
{
public:
    bool isInstalled() override;
    bool open(const QString &path) override;
};
