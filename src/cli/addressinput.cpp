#include "cli/addressinput.h"

#include "addresses/listfile.h"
#include "cli/clierror.h"
#include "cli/clioptions.h"
#include "cli/exitcode.h"
#include "platform/runtimeerror.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

// The window's list-file rules, except that an empty line is skipped: a command line has no
// use for an empty address.
void appendLines(QIODevice &device, QStringList &addresses)
{
    ListFile::appendLines(
        [&](const QStringList &batch) {
            for (const QString &line : batch) {
                if (!line.isEmpty())
                    addresses.append(line);
            }
        },
        device);
}

CliError unreadable(const QString &name, const QString &why)
{
    return CliError{ExitCode::Usage,
                    QStringLiteral("cannot read ") + name + QStringLiteral(": ") + why};
}

void readDevice(QFile &file, const QString &name, QStringList &addresses)
{
    try {
        appendLines(file, addresses);
    } catch (const RuntimeError &error) {
        throw unreadable(name, error.description());
    }
}

} // namespace

namespace AddressInput {

QStringList read(const CliOptions &options)
{
    QStringList addresses = options.addresses;
    QStringList files = options.inputFiles;
    if (files.isEmpty() && options.readStandardInput)
        files << QStringLiteral("-");
    for (const QString &name : files) {
        QFile file;
        if (name == QLatin1String("-")) {
            if (!file.open(STDIN_FILENO, QIODevice::ReadOnly))
                throw unreadable(QStringLiteral("standard input"), file.errorString());
            readDevice(file, QStringLiteral("standard input"), addresses);
            continue;
        }
        file.setFileName(name);
        if (QFileInfo(name).isDir())
            throw unreadable(name, QStringLiteral("is a folder"));
        if (!file.open(QIODevice::ReadOnly))
            throw unreadable(name, file.errorString());
        readDevice(file, name, addresses);
    }
    return addresses;
}

} // namespace AddressInput
