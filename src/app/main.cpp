#include "app/commandline.h"
#include "app/form1.h"
#include "app/platformcheck.h"
#include "platform/clipboard.h"
#include "platform/commandrunner.h"
#include "platform/desktop.h"
#include "platform/qtdialogs.h"
#include "platform/settingsstore.h"
#include "platform/spreadsheetapp.h"
#include "shell/processcommandrunner.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char *argv[])
{
    // --help and --version are answered before QApplication, which needs a display.
    const QString command = argc > 0 ? QString::fromLocal8Bit(argv[0]) : QStringLiteral("quorvane");
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString program = QFileInfo(command).fileName();
    switch (WindowCommandLine::request(arguments)) {
    case WindowCommandLine::Request::Help:
        fputs(qPrintable(WindowCommandLine::helpText(program)), stdout);
        return 0;
    case WindowCommandLine::Request::Version:
        fputs(qPrintable(WindowCommandLine::versionText(program)), stdout);
        return 0;
    case WindowCommandLine::Request::Run:
        break;
    }

    if (const QString problem = missingDisplayMessage(command); !problem.isEmpty()) {
        fputs(qPrintable(problem), stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Ferrowick"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
    // Ties the window to its desktop entry (Wayland shows the entry's name and icon by it).
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVANE_APP_ID));

    QtDialogs dialogs;
    IniSettingsStore settings;
    QtClipboard clipboard;
    QtDesktopOpener desktop;
    XdgSpreadsheetApp spreadsheet;
    ProcessCommandRunner commands;

    StartOptions options;
    options.programDir = QCoreApplication::applicationDirPath();
    options.homePageAllowed = qEnvironmentVariable("QUORVANE_NO_HOMEPAGE") != QStringLiteral("1");

    Form1 form({dialogs, settings, clipboard, desktop, spreadsheet, commands}, options);
    dialogs.setParent(&form);
    form.Form_Load();
    form.centerOnScreen();
    form.show();
    return app.exec();
}
