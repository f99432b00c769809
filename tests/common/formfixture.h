#pragma once

#include "app/form1.h"
#include "memorysettingsstore.h"
#include "platform/clipboard.h"
#include "platform/commandrunner.h"
#include "platform/desktop.h"
#include "platform/settingsstore.h"
#include "platform/spreadsheetapp.h"
#include "scriptedclipboard.h"
#include "scriptedcommandrunner.h"
#include "scripteddesktop.h"
#include "scripteddialogs.h"
#include "scriptedspreadsheetapp.h"

#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

// A main window built on scripted platform doubles, with its own empty program folder.
struct FormFixture
{
    ScriptedDialogs dialogs;
    MemorySettingsStore settings;
    ScriptedClipboard clipboard;
    ScriptedDesktopOpener desktop;
    ScriptedSpreadsheetApp spreadsheet;
    ScriptedCommandRunner commands;
    QTemporaryDir programDir;
    std::unique_ptr<Form1> form;

    FormFixture()
    {
        commands.output = QStringLiteral("64 bytes from 127.0.0.1: icmp_seq=1 ttl=64");
    }

    Form1 &make(std::function<int()> homePageDraw = {})
    {
        StartOptions options;
        options.programDir = programDir.path();
        options.homePageAllowed = true;
        options.drawHomePageNumber = homePageDraw ? homePageDraw : [] { return 1; };
        options.storePath = programDir.filePath(QStringLiteral("answers.sqlite"));
        form = std::make_unique<Form1>(
            Services{dialogs, settings, clipboard, desktop, spreadsheet, commands}, options);
        return *form;
    }

    Form1 &load(std::function<int()> homePageDraw = {})
    {
        make(std::move(homePageDraw)).Form_Load();
        return *form;
    }

    template <class T = QWidget> T *control(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }

    void click(const char *name) { control<QPushButton>(name)->click(); }
};
