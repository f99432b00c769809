#pragma once

#include <QByteArrayView>

#include <cstdint>

// The filled cells of one row, compactly: UTF-8 texts back to back in one block, in column
// order, with a small index (where each text ends, and its column) in front of them. One
// allocation per row; an empty row holds none. A cell is never empty: emptying one removes it.
// Edits grow the block with room to spare; trim() gives the room back.
class RowCells
{
public:
    RowCells() = default;
    ~RowCells();
    RowCells(RowCells &&other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    RowCells &operator=(RowCells &&other) noexcept;
    RowCells(const RowCells &) = delete;
    RowCells &operator=(const RowCells &) = delete;

    int count() const { return m_block ? int(m_block->count) : 0; }
    int column(int i) const { return columns()[i]; }
    QByteArrayView text(int i) const
    {
        const uint32_t begin = i == 0 ? 0 : ends()[i - 1];
        return {texts() + begin, qsizetype(ends()[i] - begin)};
    }
    // The index of the column's cell, or -1.
    int find(int column) const;
    QByteArrayView textOf(int column) const
    {
        const int i = find(column);
        return i < 0 ? QByteArrayView() : text(i);
    }
    // The UTF-8 bytes of all the cells' texts.
    uint32_t textBytes() const { return m_block ? m_block->textBytes : 0; }
    // All the cells' texts back to back, in column order.
    QByteArrayView allText() const
    {
        return m_block ? QByteArrayView(texts(), qsizetype(m_block->textBytes)) : QByteArrayView();
    }

    // Sets the cell to the text; the empty text removes it. The text must not lie in this row.
    void set(int column, QByteArrayView text);
    // Adds the value to the cell after a tab, or makes it the cell's text when the cell is
    // empty (an empty value then leaves the cell empty).
    void append(int column, QByteArrayView value);

    // Values for several cells at once, sorted by column (several for one column in the order
    // they are appended): the row is rebuilt once, without spare room.
    struct Addition
    {
        int column;
        QByteArrayView value;
    };
    void appendAll(const Addition *begin, const Addition *end);

    // Gives back spare room.
    void trim();

private:
    struct Header
    {
        uint32_t count;
        uint32_t cellCapacity;
        uint32_t textBytes;
        uint32_t textCapacity;
    };
    // The block: Header, uint32_t ends[cellCapacity], uint16_t columns[cellCapacity], texts.
    static Header *allocate(uint32_t cells, uint32_t bytes);
    uint32_t *ends() const { return reinterpret_cast<uint32_t *>(m_block + 1); }
    uint16_t *columns() const
    {
        return reinterpret_cast<uint16_t *>(ends() + m_block->cellCapacity);
    }
    char *texts() const { return reinterpret_cast<char *>(columns() + m_block->cellCapacity); }
    // Puts the text at index i: replacing that cell's text, or inserting a new cell there.
    void put(int i, bool insert, int column, QByteArrayView text);
    void erase(int i);

    Header *m_block = nullptr;
};
