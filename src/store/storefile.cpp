#include "store/storefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Why one path cannot be part of a store; `mustExist` is false for the side files.
QString entryRefusal(const QString &path, const QString &what)
{
    struct stat entry
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &entry) != 0)
        return {};
    if (S_ISLNK(entry.st_mode))
        return what + QStringLiteral(" ") + shown(path) +
               QStringLiteral(" is a symbolic link; it is not used");
    if (!S_ISREG(entry.st_mode))
        return what + QStringLiteral(" ") + shown(path) +
               QStringLiteral(" is not a regular file; it is not used");
    return {};
}

} // namespace

namespace StoreFile {

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quorvane/answers.sqlite");
}

QString refusal(const QString &path)
{
    QString why = entryRefusal(path, QStringLiteral("the answer store"));
    for (const char *side : {"-wal", "-shm", "-journal"}) {
        if (why.isEmpty())
            why = entryRefusal(path + QLatin1String(side),
                               QStringLiteral("a file of the answer store,"));
    }
    if (!why.isEmpty())
        return why;
    // A file that is not a database is never handed to SQLite, which would take it for an
    // empty one only when it is empty.
    QFile file(path);
    if (file.exists() && file.size() > 0 && file.open(QIODevice::ReadOnly)) {
        const QByteArray head = file.read(16);
        if (head != QByteArrayView("SQLite format 3\0", 16))
            return QStringLiteral("the answer store ") + shown(path) +
                   QStringLiteral(" is not an SQLite database (damaged, or another file); it is "
                                  "left as it is");
    }
    return {};
}

QString prepare(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder))
            return QStringLiteral("the folder ") + shown(folder) +
                   QStringLiteral(" of the answer store cannot be made");
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    if (errno == EEXIST)
        return {};
    return QStringLiteral("the answer store ") + shown(path) + QStringLiteral(" cannot be made: ") +
           QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace StoreFile
