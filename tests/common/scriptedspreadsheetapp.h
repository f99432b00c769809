#pragma once

#include "platform/spreadsheetapp.h"

#include <QStringList>

class ScriptedSpreadsheetApp : public SpreadsheetApp
{
public:
    bool isInstalled() override
    {
        ++installedChecks;
        return installed;
    }
    bool open(const QString &path) override
    {
        opened.append(path);
        return succeed;
    }
    bool installed = true;
    bool succeed = true;
    int installedChecks = 0;
    QStringList opened;
};
