#pragma once

#include <QByteArrayView>

#include <cstddef>
#include <cstring>

// Small inline pieces for the exports, which lay out lines of millions of short cells: at a few
// dozen bytes a cell, a call into the C library per cell costs more than the copy itself.

// Copies the text to p and returns the end of the copy. Texts up to 32 bytes are copied as two
// overlapping fixed-size moves, which the compiler turns into plain loads and stores.
inline char *putBytes(char *p, QByteArrayView text)
{
    const char *s = text.data();
    const size_t n = size_t(text.size());
    if (n > 32) {
        std::memcpy(p, s, n);
    } else if (n >= 16) {
        std::memcpy(p, s, 16);
        std::memcpy(p + n - 16, s + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(p, s, 8);
        std::memcpy(p + n - 8, s + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(p, s, 4);
        std::memcpy(p + n - 4, s + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i)
            p[i] = s[i];
    }
    return p + n;
}

// Writes count copies of c at p (none when count is not positive) and returns their end. The
// usual count is 1: one separator between neighbouring cells.
inline char *putRepeated(char *p, char c, std::ptrdiff_t count)
{
    if (count == 1) {
        *p = c;
        return p + 1;
    }
    if (count <= 0)
        return p;
    std::memset(p, c, size_t(count));
    return p + count;
}
