#pragma once

#include <cstddef>

// Asks the system to back a large buffer that is about to be written from end to end with huge
// pages (on Linux, where transparent huge pages may be asked for per range). Filling tens of
// megabytes of fresh memory otherwise costs a page fault for every 4 KiB, and freeing it an
// unmapping of each, which together take longer than writing the bytes. Only advice: where it
// is not followed, nothing changes but the time.
void adviseHugePages(void *data, std::size_t bytes);
