#include "app/commandline.h"

namespace WindowCommandLine {

Request request(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return Request::Help;
        if (argument == QLatin1String("--version"))
            return Request::Version;
    }
    return Request::Run;
}

QString helpText(const QString &program)
{
    return QStringLiteral("Usage: ") + program +
           QStringLiteral(
               " [OPTION]...\n"
               "Looks up the whois records of many domain names, IP addresses and AS numbers in\n"
               "one run and lines the answers up in a table: one row per address, one column per\n"
               "field, and for the registries' own services the same summary columns first.\n"
               "\n"
               "The window keeps the address list, the chosen source, the delay and its size\n"
               "from one start to the next. For scripts and long lists, quorvane-cli runs the\n"
               "same lookups without a window.\n"
               "\n"
               "Options:\n"
               "  -h, --help     Shows this help.\n"
               "  --version      Shows the program's version.\n"
               "\n"
               "Qt's own options are accepted as well, for example -platform offscreen or\n"
               "-style Fusion.\n");
}

QString versionText(const QString &program)
{
    return program + QStringLiteral(" ") + QStringLiteral(QUORVANE_VERSION) + QLatin1Char('\n');
}

} // namespace WindowCommandLine
