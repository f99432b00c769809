#include "results/hugepages.h"

#include <QtGlobal>

#include <cstdint>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

void adviseHugePages(void *data, std::size_t bytes)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    // Only whole huge pages inside the buffer: the advice covers the range given, and memory
    // around the buffer belongs to others.
    constexpr uintptr_t huge = uintptr_t(2) << 20;
    const auto start = reinterpret_cast<uintptr_t>(data);
    const uintptr_t begin = (start + huge - 1) & ~(huge - 1);
    const uintptr_t end = (start + bytes) & ~(huge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}
