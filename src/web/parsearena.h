#pragma once

#include <QDeadlineTimer>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <vector>

// Every allocation of one parse. Blocks are recycled by size class while the parse runs and all
// go at once with the arena, so the tree is never freed node by node (gumbo's own release
// recurses once per nesting level). The allocator is also where the parse is given up: past
// the deadline or the memory limit it jumps back to `escape`.
class ParseArena
{
public:
    ParseArena(QDeadlineTimer deadline, qint64 memoryLimit)
        : m_deadline(deadline), m_memoryLimit(memoryLimit)
    {
    }
    ~ParseArena();
    ParseArena(const ParseArena &) = delete;
    ParseArena &operator=(const ParseArena &) = delete;

    // The parser's allocator and deallocator; `arena` is the ParseArena.
    static void *allocateHook(void *arena, size_t size);
    static void releaseHook(void *arena, void *pointer);

    // Where a limit jumps to; set by the code that runs the parser.
    sigjmp_buf escape;
    bool givenUp = false;

private:
    // Size classes: 8-byte steps up to 512 bytes (gumbo's nodes and small vectors), then
    // powers of two up to 32 KiB; larger blocks come from malloc one by one.
    static constexpr int kFineClasses = 64;
    static constexpr int kClasses = kFineClasses + 6;

    struct BigBlock
    {
        BigBlock *prev;
        BigBlock *next;
        size_t size;
        size_t pad;
    };

    [[noreturn]] void giveUp();
    void account(size_t bytes);
    void *allocate(size_t size);
    void *allocateBig(size_t size);
    void release(void *pointer);

    QDeadlineTimer m_deadline;
    qint64 m_memoryLimit = 0;
    qint64 m_reserved = 0;
    int m_countdown = 0;

    void *m_freeLists[kClasses] = {};
    std::vector<char *> m_chunks;
    char *m_cursor = nullptr;
    char *m_chunkEnd = nullptr;
    BigBlock *m_bigBlocks = nullptr;
};
