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

int main(int argc, char *argv[])
{
    if (const QString problem = missingDisplayMessage(); !problem.isEmpty()) {
        fputs(qPrintable(problem), stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Ferrowick"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));

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
