#include "platform/filebytes.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

FileBytes readFileBytes(const QString &path, qsizetype cap)
{
    FileBytes result;
    const Descriptor file{::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)};
    struct stat status = {};
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0) {
        result.error = errno;
        return result;
    }
    if (S_ISDIR(status.st_mode)) {
        result.error = EISDIR;
        return result;
    }
    // A regular file says its size (the kernel's own files say 0 and are read as a pipe is).
    const bool regular = S_ISREG(status.st_mode) && status.st_size > 0;
    if (regular && status.st_size > cap) {
        result.tooLarge = true;
        return result;
    }
    const qsizetype expected = regular ? qsizetype(status.st_size) : 0;
    // One byte beyond what the file holds (or the cap) tells its end from a full buffer.
    result.bytes.resize(regular ? expected + 1 : std::min(qsizetype(64) << 10, cap + 1));
    qsizetype filled = 0;
    for (;;) {
        if (filled == result.bytes.size()) {
            if (filled > cap)
                break;
            result.bytes.resize(std::min(filled * 2, cap + 1));
        }
        const ssize_t n =
            ::read(file.fd, result.bytes.data() + filled, size_t(result.bytes.size() - filled));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.error = errno;
            result.bytes.clear();
            return result;
        }
        if (n == 0)
            break;
        filled += n;
        // All a regular file said it holds, and room left: its end, without another read.
        if (regular && filled >= expected && filled < result.bytes.size())
            break;
    }
    if (filled > cap) {
        result.tooLarge = true;
        result.bytes.clear();
        return result;
    }
    result.bytes.truncate(filled);
    return result;
}
