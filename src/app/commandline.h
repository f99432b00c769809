#pragma once

#include <QString>
#include <QStringList>

// What the window program does with its command line before anything needs a display: --help
// and --version are answered on standard output; every other argument is left to Qt (-platform,
// -style, ...), since the window itself takes none.
namespace WindowCommandLine {

enum class Request
{
    Run,
    Help,
    Version
};

// The request the arguments (the program name left out) make; the first of --help/-h and
// --version wins.
Request request(const QStringList &arguments);

// The help text, its usage line naming `program` (the file name it was started as).
QString helpText(const QString &program);
QString versionText(const QString &program);

} // namespace WindowCommandLine
