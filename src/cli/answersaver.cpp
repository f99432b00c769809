#include "cli/answersaver.h"

#include "cli/clierror.h"
#include "cli/exitcode.h"
#include "lookup/lookupresult.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// File names are at most 255 bytes on the usual file systems.
constexpr qsizetype MaxNameBytes = 240;

CliError notWritable(const QString &path, const QString &why)
{
    return CliError{ExitCode::NotWritable,
                    QStringLiteral("cannot write ") + path + QStringLiteral(": ") + why};
}

} // namespace

AnswerSaver::AnswerSaver(const QString &folder) : m_folder(folder)
{
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        throw notWritable(folder, QStringLiteral("cannot make the folder"));
    if (!QFileInfo(folder).isWritable())
        throw notWritable(folder, QStringLiteral("permission denied"));
}

QString AnswerSaver::fileName(const QString &address, std::optional<SourceKind> source)
{
    QString name = address;
    for (QChar &c : name) {
        if (c == u'/' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'_';
    }
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name.replace(u'.', u'_').prepend(u'_');
    while (name.toUtf8().size() > MaxNameBytes)
        name.chop(name.back().isLowSurrogate() ? 2 : 1);
    return name + (source == SourceKind::Whois  ? QStringLiteral(".txt")
                   : source == SourceKind::Rdap ? QStringLiteral(".json")
                                                : QStringLiteral(".html"));
}

void AnswerSaver::save(const LookupResult &result)
{
    if (!result.ok() || result.answer.isEmpty())
        return;
    const QString path = m_folder + u'/' + fileName(result.address, result.source);
    QByteArray bytes = result.answer;
    const bool page = result.source == SourceKind::Site1 || result.source == SourceKind::Site2 ||
                      result.source == SourceKind::Site3;
    if (page && !bytes.startsWith("\xEF\xBB\xBF"))
        bytes.prepend("\xEF\xBB\xBF");
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        throw notWritable(path, QString::fromLocal8Bit(std::strerror(errno)));
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw notWritable(path, QString::fromLocal8Bit(std::strerror(error)));
        }
        data += n;
        left -= n;
    }
    if (::close(fd) != 0)
        throw notWritable(path, QString::fromLocal8Bit(std::strerror(errno)));
}
