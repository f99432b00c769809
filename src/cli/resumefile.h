#pragma once

#include <QHash>
#include <QString>

// The addresses an earlier run already wrote to a jsonl output file. Reading it cuts off a
// last line left incomplete by a killed run, so appending goes on from a whole line. An address
// listed twice is looked up twice: each line in the file stands for one list entry. With
// `retryFailed`, the lines of lookups that failed or were throttled are taken out of the file
// (it is written again without them, then renamed over the old one) and their addresses are
// not done: the run asks them again.
class ResumeFile
{
public:
    // A missing file holds nothing. Throws CliError: 3 when the file cannot be read, cut or
    // written again, 2 when a whole line is not one of the tool's lookups.
    explicit ResumeFile(const QString &path, bool retryFailed = false);

    // True, once per line in the file, when the address was looked up before.
    bool takeDone(const QString &address);

    qsizetype lookups() const { return m_lookups; }
    // Lines kept whose lookup got no answer (failed, throttled or invalid).
    qsizetype failures() const { return m_failures; }
    // Lines taken out to be asked again.
    qsizetype retried() const { return m_retried; }
    // Bytes of the torn last line that were cut off.
    qint64 cutBytes() const { return m_cutBytes; }

private:
    QHash<QString, qsizetype> m_done;
    qsizetype m_lookups = 0;
    qsizetype m_failures = 0;
    qsizetype m_retried = 0;
    qint64 m_cutBytes = 0;
};
