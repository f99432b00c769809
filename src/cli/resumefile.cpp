#include "cli/resumefile.h"

#include "cli/clierror.h"
#include "cli/exitcode.h"
#include "cli/jsonline.h"

#include <QFile>

ResumeFile::ResumeFile(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadWrite))
        throw CliError{ExitCode::NotWritable, path + QStringLiteral(": ") + file.errorString()};
    constexpr qint64 BlockSize = 1 << 20;
    QByteArray pending;  // the start of a line not yet ended
    qint64 wholeEnd = 0; // where the last whole line ends
    qint64 lineNumber = 0;
    for (;;) {
        const QByteArray block = file.read(BlockSize);
        if (block.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                throw CliError{ExitCode::NotWritable,
                               path + QStringLiteral(": ") + file.errorString()};
            break;
        }
        qsizetype start = 0;
        for (qsizetype end = block.indexOf('\n'); end >= 0; end = block.indexOf('\n', start)) {
            QByteArrayView line(block.constData() + start, end - start);
            if (!pending.isEmpty()) {
                pending.append(line);
                line = pending;
            }
            ++lineNumber;
            wholeEnd += line.size() + 1;
            const std::optional<JsonLine::Summary> summary = JsonLine::read(line);
            if (!summary)
                throw CliError{ExitCode::Usage,
                               path + QStringLiteral(": line ") + QString::number(lineNumber) +
                                   QStringLiteral(" is not a lookup of quorvane-cli")};
            ++m_done[summary->address];
            ++m_lookups;
            if (summary->failed)
                ++m_failures;
            pending.clear();
            start = end + 1;
        }
        pending.append(QByteArrayView(block.constData() + start, block.size() - start));
    }
    if (!pending.isEmpty()) {
        m_cutBytes = pending.size();
        if (!file.resize(wholeEnd))
            throw CliError{ExitCode::NotWritable, path + QStringLiteral(": ") + file.errorString()};
    }
}

bool ResumeFile::takeDone(const QString &address)
{
    const auto hit = m_done.find(address);
    if (hit == m_done.end())
        return false;
    if (--hit.value() == 0)
        m_done.erase(hit);
    return true;
}
