#include "cli/resumefile.h"

#include "cli/clierror.h"
#include "cli/clioptions.h"
#include "cli/exitcode.h"
#include "cli/jsonline.h"

#include <QFile>
#include <QSaveFile>

#include <memory>

namespace {

CliError notWritable(const QString &path, const QString &why)
{
    return CliError{ExitCode::NotWritable, path + QStringLiteral(": ") + why};
}

} // namespace

ResumeFile::ResumeFile(const QString &path, bool retryFailed)
{
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadWrite))
        throw notWritable(path, file.errorString());
    // Lines are taken out by writing the file again without them; a kill meanwhile leaves the
    // old file as it was.
    std::unique_ptr<QSaveFile> kept;
    if (retryFailed) {
        kept = std::make_unique<QSaveFile>(path);
        if (!kept->open(QIODevice::WriteOnly))
            throw notWritable(path, kept->errorString());
    }
    constexpr qint64 BlockSize = 1 << 20;
    QByteArray pending;  // the start of a line not yet ended
    qint64 wholeEnd = 0; // where the last whole line ends
    qint64 lineNumber = 0;
    for (;;) {
        const QByteArray block = file.read(BlockSize);
        if (block.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                throw notWritable(path, file.errorString());
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
            // An invalid address stays invalid: only failed and throttled lookups are retried.
            const bool retry =
                retryFailed && summary->failed && summary->status != QLatin1String("invalid");
            if (retry) {
                ++m_retried;
            } else {
                ++m_done[CliArguments::normalizedAddress(summary->address)];
                ++m_lookups;
                if (summary->failed)
                    ++m_failures;
                if (kept &&
                    (kept->write(line.data(), line.size()) != line.size() || !kept->putChar('\n')))
                    throw notWritable(path, kept->errorString());
            }
            pending.clear();
            start = end + 1;
        }
        pending.append(QByteArrayView(block.constData() + start, block.size() - start));
    }
    if (!pending.isEmpty())
        m_cutBytes = pending.size();
    if (kept) {
        file.close();
        if (!kept->commit())
            throw notWritable(path, kept->errorString());
    } else if (m_cutBytes > 0 && !file.resize(wholeEnd)) {
        throw notWritable(path, file.errorString());
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
