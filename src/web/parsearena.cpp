// The parse arena: allocation by size class from pooled chunks, limits checked as it goes.

#include "web/parsearena.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <mutex>

#include <sys/mman.h>

namespace {

constexpr size_t kLargestSmall = size_t(32) << 10;
// The parser's structures hold nothing wider than a pointer: 8-byte alignment does, and a
// smaller header keeps its many small nodes smaller.
constexpr size_t kHeader = 8;
constexpr uint64_t kBig = 0xFF;
constexpr int kFineClasses = 64;

// Chunks of finished parses, kept for the next one: memory the process has already touched
// costs no page faults. At most kKeep chunks (16 MiB) wait here. A chunk is 2 MiB, mapped on
// its own and aligned, so that the kernel can back it with one huge page where it allows them:
// a tag-dense page fills tens of megabytes of nodes, and faulting those in 4 KiB at a time
// costs about as much as parsing them.
class ChunkPool
{
public:
    static constexpr size_t kChunk = size_t(2) << 20;
    static constexpr size_t kKeep = 8;

    static ChunkPool &instance()
    {
        static ChunkPool pool;
        return pool;
    }

    ~ChunkPool()
    {
        for (char *chunk : m_chunks)
            unmap(chunk);
    }

    char *take()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_chunks.empty()) {
                char *chunk = m_chunks.back();
                m_chunks.pop_back();
                return chunk;
            }
        }
        return map();
    }

    void giveBack(const std::vector<char *> &chunks)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (char *chunk : chunks) {
            if (m_chunks.size() < kKeep)
                m_chunks.push_back(chunk);
            else
                unmap(chunk);
        }
    }

private:
    // Twice the size is mapped and the unaligned ends given back.
    static char *map()
    {
        void *area =
            mmap(nullptr, 2 * kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (area == MAP_FAILED)
            return nullptr;
        const auto begin = reinterpret_cast<uintptr_t>(area);
        const uintptr_t aligned = (begin + kChunk - 1) & ~uintptr_t(kChunk - 1);
        if (aligned > begin)
            munmap(area, aligned - begin);
        if (const uintptr_t tail = begin + 2 * kChunk - (aligned + kChunk))
            munmap(reinterpret_cast<void *>(aligned + kChunk), tail);
        auto *chunk = reinterpret_cast<char *>(aligned);
        madvise(chunk, kChunk, MADV_HUGEPAGE); // only advice; without it 4 KiB pages do
        return chunk;
    }

    static void unmap(char *chunk) { munmap(chunk, kChunk); }

    std::mutex m_mutex;
    std::vector<char *> m_chunks;
};

constexpr size_t kChunk = ChunkPool::kChunk;

int classOf(size_t total)
{
    if (total <= 512)
        return int((total + 7) / 8) - 1;
    return kFineClasses + int(std::bit_width(total - 1)) - 10;
}

size_t blockSize(int sizeClass)
{
    return sizeClass < kFineClasses ? size_t(sizeClass + 1) * 8
                                    : size_t(1024) << (sizeClass - kFineClasses);
}

} // namespace

ParseArena::~ParseArena()
{
    ChunkPool::instance().giveBack(m_chunks);
    while (m_bigBlocks) {
        BigBlock *next = m_bigBlocks->next;
        std::free(m_bigBlocks);
        m_bigBlocks = next;
    }
}

void ParseArena::giveUp()
{
    givenUp = true;
    siglongjmp(escape, 1);
}

void ParseArena::account(size_t bytes)
{
    m_reserved += qint64(bytes);
    if (m_reserved > m_memoryLimit)
        giveUp();
}

void *ParseArena::allocate(size_t size)
{
    if (--m_countdown <= 0) {
        m_countdown = 64;
        if (m_deadline.hasExpired())
            giveUp();
    }
    // A free block holds the link to the next one.
    const size_t total = std::max(size, sizeof(void *)) + kHeader;
    if (total > kLargestSmall)
        return allocateBig(size);
    const int sizeClass = classOf(total);
    char *block;
    if (void *recycled = m_freeLists[sizeClass]) {
        m_freeLists[sizeClass] = *static_cast<void **>(recycled);
        block = static_cast<char *>(recycled) - kHeader;
    } else {
        const size_t bytes = blockSize(sizeClass);
        // The limit counts the blocks handed out: a chunk is larger than a small parse needs.
        account(bytes);
        if (size_t(m_chunkEnd - m_cursor) < bytes) {
            char *chunk = ChunkPool::instance().take();
            if (!chunk)
                giveUp();
            m_chunks.push_back(chunk);
            m_cursor = chunk;
            m_chunkEnd = chunk + kChunk;
        }
        block = m_cursor;
        m_cursor += bytes;
    }
    *reinterpret_cast<uint64_t *>(block) = uint64_t(sizeClass);
    return block + kHeader;
}

void *ParseArena::allocateBig(size_t size)
{
    account(size);
    auto *big = static_cast<BigBlock *>(std::malloc(sizeof(BigBlock) + kHeader + size));
    if (!big)
        giveUp();
    big->prev = nullptr;
    big->next = m_bigBlocks;
    big->size = size;
    if (m_bigBlocks)
        m_bigBlocks->prev = big;
    m_bigBlocks = big;
    char *header = reinterpret_cast<char *>(big + 1);
    *reinterpret_cast<uint64_t *>(header) = kBig;
    return header + kHeader;
}

void ParseArena::release(void *pointer)
{
    if (!pointer)
        return;
    char *header = static_cast<char *>(pointer) - kHeader;
    const uint64_t sizeClass = *reinterpret_cast<uint64_t *>(header);
    if (sizeClass == kBig) {
        auto *big = reinterpret_cast<BigBlock *>(header) - 1;
        if (big->prev)
            big->prev->next = big->next;
        else
            m_bigBlocks = big->next;
        if (big->next)
            big->next->prev = big->prev;
        m_reserved -= qint64(big->size);
        std::free(big);
        return;
    }
    *static_cast<void **>(pointer) = m_freeLists[sizeClass];
    m_freeLists[sizeClass] = pointer;
}

void *ParseArena::allocateHook(void *arena, size_t size)
{
    return static_cast<ParseArena *>(arena)->allocate(size);
}

void ParseArena::releaseHook(void *arena, void *pointer)
{
    static_cast<ParseArena *>(arena)->release(pointer);
}
