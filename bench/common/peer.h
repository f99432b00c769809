#pragma once

// Runs one of the Python peers in bench/peers/ and reads the numbers it prints on its one line
// of output; none when python3 or the script fails.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

inline std::optional<std::vector<double>> runPeer(const QString &script, const QStringList &args)
{
    // Debian's interpreter, which has python3-lxml, rather than another one earlier on PATH.
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3"))
                               ? QStringLiteral("/usr/bin/python3")
                               : QStringLiteral("python3");
    QProcess process;
    process.start(python, QStringList{QStringLiteral(QUORVANE_PEERS_DIR "/") + script} + args);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    std::vector<double> numbers;
    const QStringList words =
        QString::fromUtf8(process.readAllStandardOutput()).split(u' ', Qt::SkipEmptyParts);
    for (const QString &word : words)
        numbers.push_back(word.trimmed().toDouble());
    return numbers;
}
