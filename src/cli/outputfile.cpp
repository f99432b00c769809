#include "cli/outputfile.h"

#include "cli/clierror.h"
#include "cli/exitcode.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

OutputPlace outputPlace(const QString &path)
{
    if (path.isEmpty())
        return OutputPlace::StandardOutput;
    struct stat status
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT ? OutputPlace::Replaced : OutputPlace::InPlace;
    return S_ISREG(status.st_mode) ? OutputPlace::Replaced : OutputPlace::InPlace;
}

OutputFile::OutputFile(const QString &path, Mode mode) : m_path(path)
{
    if (path.isEmpty()) {
        m_fd = STDOUT_FILENO;
        return;
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Append ? O_APPEND : O_TRUNC);
    m_fd = ::open(QFile::encodeName(path).constData(), flags, 0666);
    if (m_fd < 0)
        fail(errno);
}

OutputFile::~OutputFile()
{
    if (m_fd > STDOUT_FILENO)
        ::close(m_fd);
}

QString OutputFile::name() const
{
    return m_path.isEmpty() ? QStringLiteral("standard output") : m_path;
}

bool OutputFile::isTerminal() const
{
    return m_fd >= 0 && ::isatty(m_fd) == 1;
}

void OutputFile::fail(int error) const
{
    throw CliError{ExitCode::NotWritable, QStringLiteral("cannot write ") + name() +
                                              QStringLiteral(": ") +
                                              QString::fromLocal8Bit(std::strerror(error))};
}

void OutputFile::write(QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += n;
        left -= n;
    }
}

void OutputFile::close()
{
    if (m_fd > STDOUT_FILENO) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            fail(errno);
    }
}
