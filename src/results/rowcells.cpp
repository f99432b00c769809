#include "results/rowcells.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

RowCells::~RowCells()
{
    std::free(m_block);
}

RowCells &RowCells::operator=(RowCells &&other) noexcept
{
    if (this != &other) {
        std::free(m_block);
        m_block = other.m_block;
        other.m_block = nullptr;
    }
    return *this;
}

RowCells::Header *RowCells::allocate(uint32_t cells, uint32_t bytes)
{
    const size_t size =
        sizeof(Header) + size_t(cells) * (sizeof(uint32_t) + sizeof(uint16_t)) + size_t(bytes);
    auto *block = static_cast<Header *>(std::malloc(size));
    if (!block)
        throw std::bad_alloc();
    *block = Header{0, cells, 0, bytes};
    return block;
}

int RowCells::find(int column) const
{
    const int n = count();
    if (n == 0)
        return -1;
    const uint16_t *first = columns();
    const uint16_t *at = std::lower_bound(first, first + n, uint16_t(column));
    return at != first + n && *at == column ? int(at - first) : -1;
}

void RowCells::set(int column, QByteArrayView text)
{
    const int n = count();
    const uint16_t *first = m_block ? columns() : nullptr;
    const int i = first ? int(std::lower_bound(first, first + n, uint16_t(column)) - first) : 0;
    const bool found = i < n && columns()[i] == column;
    if (text.isEmpty()) {
        if (found)
            erase(i);
        return;
    }
    put(i, !found, column, text);
}

void RowCells::append(int column, QByteArrayView value)
{
    const int i = find(column);
    if (i < 0) {
        set(column, value);
        return;
    }
    std::string joined;
    const QByteArrayView old = text(i);
    joined.reserve(size_t(old.size() + 1 + value.size()));
    joined.append(old.data(), size_t(old.size()));
    joined.push_back('\t');
    joined.append(value.data(), size_t(value.size()));
    put(i, false, column, QByteArrayView(joined.data(), qsizetype(joined.size())));
}

void RowCells::put(int i, bool insert, int column, QByteArrayView text)
{
    const uint32_t n = uint32_t(count());
    const uint32_t begin = i == 0 ? 0 : ends()[i - 1];
    const uint32_t oldLength = insert ? 0 : ends()[i] - begin;
    const uint32_t newCount = n + (insert ? 1 : 0);
    const uint64_t newBytesWide = uint64_t(textBytes()) - oldLength + uint64_t(text.size());
    if (newBytesWide > UINT32_MAX)
        throw std::bad_alloc();
    const auto newBytes = uint32_t(newBytesWide);
    const uint32_t tailBegin = begin + oldLength;
    const uint32_t tailLength = textBytes() - tailBegin;

    if (!m_block || newCount > m_block->cellCapacity || newBytes > m_block->textCapacity) {
        // Grow with room to spare, so that cells placed one by one do not copy the row each.
        const uint32_t cells =
            m_block ? std::max(newCount, m_block->cellCapacity * 3 / 2 + 2) : newCount;
        const uint32_t bytes =
            m_block
                ? uint32_t(std::min<uint64_t>(
                      UINT32_MAX,
                      std::max<uint64_t>(newBytes, uint64_t(m_block->textCapacity) * 3 / 2 + 16)))
                : newBytes;
        RowCells grown;
        grown.m_block = allocate(cells, bytes);
        Header &g = *grown.m_block;
        uint32_t *gEnds = grown.ends();
        uint16_t *gColumns = grown.columns();
        char *gTexts = grown.texts();
        if (n > 0) {
            std::memcpy(gEnds, ends(), size_t(i) * sizeof(uint32_t));
            std::memcpy(gColumns, columns(), size_t(i) * sizeof(uint16_t));
            std::memcpy(gTexts, texts(), begin);
        }
        std::memcpy(gTexts + begin, text.data(), size_t(text.size()));
        gEnds[i] = begin + uint32_t(text.size());
        gColumns[i] = uint16_t(column);
        const int from = insert ? i : i + 1;
        const int delta = int(text.size()) - int(oldLength);
        for (uint32_t k = uint32_t(from); k < n; ++k) {
            gEnds[k + (insert ? 1 : 0)] = uint32_t(int64_t(ends()[k]) + delta);
            gColumns[k + (insert ? 1 : 0)] = columns()[k];
        }
        if (tailLength > 0)
            std::memcpy(gTexts + begin + text.size(), texts() + tailBegin, tailLength);
        g.count = newCount;
        g.textBytes = newBytes;
        *this = std::move(grown);
        return;
    }

    char *t = texts();
    std::memmove(t + begin + text.size(), t + tailBegin, tailLength);
    std::memcpy(t + begin, text.data(), size_t(text.size()));
    uint32_t *e = ends();
    uint16_t *c = columns();
    const int64_t delta = int64_t(text.size()) - int64_t(oldLength);
    if (insert) {
        std::memmove(e + i + 1, e + i, (n - uint32_t(i)) * sizeof(uint32_t));
        std::memmove(c + i + 1, c + i, (n - uint32_t(i)) * sizeof(uint16_t));
    }
    e[i] = begin + uint32_t(text.size());
    c[i] = uint16_t(column);
    for (uint32_t k = uint32_t(i) + 1; k < newCount; ++k)
        e[k] = uint32_t(int64_t(e[k]) + delta);
    m_block->count = newCount;
    m_block->textBytes = newBytes;
}

void RowCells::erase(int i)
{
    const uint32_t n = uint32_t(count());
    const uint32_t begin = i == 0 ? 0 : ends()[i - 1];
    const uint32_t length = ends()[i] - begin;
    char *t = texts();
    std::memmove(t + begin, t + begin + length, textBytes() - begin - length);
    uint32_t *e = ends();
    uint16_t *c = columns();
    for (uint32_t k = uint32_t(i) + 1; k < n; ++k) {
        e[k - 1] = e[k] - length;
        c[k - 1] = c[k];
    }
    m_block->count = n - 1;
    m_block->textBytes -= length;
    if (m_block->count == 0) {
        std::free(m_block);
        m_block = nullptr;
    }
}

void RowCells::appendAll(const Addition *begin, const Addition *end)
{
    if (begin == end)
        return;
    if (end - begin == 1) {
        append(begin->column, begin->value);
        return;
    }
    // First the size of the rebuilt row, then the row itself, merging old cells and additions
    // column by column.
    const int n = count();
    uint64_t cells = 0;
    uint64_t bytes = 0;
    {
        int i = 0;
        const Addition *a = begin;
        while (i < n || a != end) {
            const int col = a == end || (i < n && column(i) <= a->column) ? column(i) : a->column;
            uint64_t length = 0;
            bool present = false;
            if (i < n && column(i) == col) {
                length = uint64_t(text(i).size());
                present = true;
                ++i;
            }
            for (; a != end && a->column == col; ++a) {
                if (present)
                    length += 1 + uint64_t(a->value.size());
                else if (!a->value.isEmpty()) {
                    length = uint64_t(a->value.size());
                    present = true;
                }
            }
            if (present) {
                ++cells;
                bytes += length;
            }
        }
    }
    if (bytes > UINT32_MAX)
        throw std::bad_alloc();
    RowCells rebuilt;
    rebuilt.m_block = allocate(uint32_t(cells), uint32_t(bytes));
    uint32_t *e = rebuilt.ends();
    uint16_t *c = rebuilt.columns();
    char *t = rebuilt.texts();
    uint32_t used = 0;
    uint32_t k = 0;
    int i = 0;
    const Addition *a = begin;
    auto put = [&](QByteArrayView piece) {
        std::memcpy(t + used, piece.data(), size_t(piece.size()));
        used += uint32_t(piece.size());
    };
    while (i < n || a != end) {
        const int col = a == end || (i < n && column(i) <= a->column) ? column(i) : a->column;
        bool present = false;
        if (i < n && column(i) == col) {
            put(text(i));
            present = true;
            ++i;
        }
        for (; a != end && a->column == col; ++a) {
            if (present) {
                t[used++] = '\t';
                put(a->value);
            } else if (!a->value.isEmpty()) {
                put(a->value);
                present = true;
            }
        }
        if (present) {
            e[k] = used;
            c[k] = uint16_t(col);
            ++k;
        }
    }
    rebuilt.m_block->count = k;
    rebuilt.m_block->textBytes = used;
    if (k == 0) {
        std::free(rebuilt.m_block);
        rebuilt.m_block = nullptr;
    }
    *this = std::move(rebuilt);
}

void RowCells::trim()
{
    if (!m_block)
        return;
    if (m_block->cellCapacity == m_block->count && m_block->textCapacity == m_block->textBytes)
        return;
    RowCells exact;
    exact.m_block = allocate(m_block->count, m_block->textBytes);
    std::memcpy(exact.ends(), ends(), m_block->count * sizeof(uint32_t));
    std::memcpy(exact.columns(), columns(), m_block->count * sizeof(uint16_t));
    std::memcpy(exact.texts(), texts(), m_block->textBytes);
    exact.m_block->count = m_block->count;
    exact.m_block->textBytes = m_block->textBytes;
    *this = std::move(exact);
}
