#include "cli/descriptorbudget.h"

#include <QtGlobal>

#include <dirent.h>
#include <sys/resource.h>

namespace DescriptorBudget {

long raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : long(qMin<rlim_t>(limit.rlim_cur, 1L << 30));
}

int openDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return 0;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the folder's own
}

int parallelWithin(int requested, long limit, int open, int perServer)
{
    if (limit < 0)
        return requested;
    const long room = (limit - open - Reserve) / qMax(1, perServer);
    return int(qBound(1L, room, long(requested)));
}

} // namespace DescriptorBudget
