#include "results/clipboardcopy.h"

#include "platform/clipboard.h"
#include "platform/runtimeerror.h"
#include "results/pivot.h"

#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

template <class F> bool withRetry(F &&attempt)
{
    bool placed = false;
    for (int tries = 0; tries < ClipboardAttempts && !placed; ++tries) {
        try {
            placed = attempt();
        } catch (...) {
            placed = false;
        }
    }
    return placed;
}

[[noreturn]] void changedUnderneath()
{
    throw RuntimeError(QStringLiteral("Subscript out of range"));
}

} // namespace

namespace {

// The length of UTF-8 text in UTF-16 code units, the measure the columns are padded to.
qsizetype utf16Length(QByteArrayView utf8)
{
    // ASCII, eight bytes at a time, counts one unit a byte.
    const char *p = utf8.data();
    const char *end = p + utf8.size();
    while (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull)
            break;
        p += 8;
    }
    qsizetype n = p - utf8.data();
    for (const char ch : QByteArrayView(p, end - p)) {
        const auto c = static_cast<unsigned char>(ch);
        n += (c & 0xC0) != 0x80; // one unit per character
        n += c >= 0xF0;          // and a second for those beyond U+FFFF
    }
    return n;
}

// Cells between two calls of the yield (a clock read each).
constexpr qsizetype kCellsPerYield = 4096;

} // namespace

std::optional<QString> ClipboardText(const Pivot &table, const std::vector<bool> &checked,
                                     const std::function<void()> &yield)
{
    if (table.rowCount() == 0)
        return std::nullopt;
    qsizetype cellsSinceYield = kCellsPerYield;
    auto step = [&] {
        if (cellsSinceYield >= kCellsPerYield) {
            cellsSinceYield = 0;
            if (yield)
                yield();
        }
    };
    const qsizetype rows = table.rowCount();
    const int columns = table.columnCount();
    auto unchanged = [&] {
        if (table.rowCount() != rows || table.columnCount() != columns ||
            qsizetype(checked.size()) != rows)
            changedUnderneath();
    };

    // Width pass over every row, checked or not, one row at a time.
    std::vector<qsizetype> widths(size_t(columns), 0);
    for (qsizetype r = 0; r < rows; ++r) {
        step();
        unchanged();
        cellsSinceYield += table.cellCount(r) + 1;
        if (columns > 0)
            widths[0] = std::max(widths[0], utf16Length(table.cellUtf8(r, 0)));
        table.forEachCell(r, [&](int column, QByteArrayView text) {
            widths[size_t(column)] = std::max(widths[size_t(column)], utf16Length(text));
        });
    }

    // The text is gathered as UTF-8 and turned into text once.
    QByteArray text;
    qsizetype paddedLine = 0; // every column padded and followed by a tab
    for (const qsizetype width : widths)
        paddedLine += width + 1;
    cellsSinceYield = kCellsPerYield;
    for (qsizetype r = 0; r < rows; ++r) {
        step();
        unchanged();
        cellsSinceYield += table.cellCount(r) + 1;
        if (!checked[size_t(r)])
            continue;
        // At most the cells' bytes and every column's padding and tab: written in place.
        const RowCells &cells = table.rowCells(r);
        const qsizetype at = text.size();
        text.resize(at + qsizetype(cells.textBytes()) + paddedLine + 2);
        char *begin = text.data() + at;
        char *p = begin;
        int next = 0; // the next column to write
        auto pad = [&](int column, qsizetype used) {
            const qsizetype spaces = widths[size_t(column)] - used;
            if (spaces > 0) {
                std::memset(p, ' ', size_t(spaces));
                p += spaces;
            }
            *p++ = '\t';
        };
        const int n = columns > 0 ? cells.count() : 0;
        for (int i = 0; i < n; ++i) {
            const int column = cells.column(i);
            for (; next < column; ++next)
                pad(next, 0);
            const QByteArrayView cell = cells.text(i);
            std::memcpy(p, cell.data(), size_t(cell.size()));
            p += cell.size();
            pad(column, utf16Length(cell));
            next = column + 1;
        }
        for (; next < columns; ++next)
            pad(next, 0);
        if (columns > 0)
            --p; // the last tab
        while (p > begin && p[-1] == ' ')
            --p;
        text.resize(at + (p - begin));
        text += "\r\n";
    }
    return textFromUtf8(text);
}

void TableToClipboard(const Pivot &table, const std::vector<bool> &checked, Clipboard &clipboard,
                      const std::function<void()> &yield)
{
    const std::optional<QString> text = ClipboardText(table, checked, yield);
    if (!text)
        return;
    ClearClipboardWithRetry(clipboard);
    SetClipboardTextWithRetry(clipboard, *text, 0);
}

void ClearClipboardWithRetry(Clipboard &clipboard)
{
    withRetry([&] { return clipboard.clear(); });
}

bool SetClipboardTextWithRetry(Clipboard &clipboard, const QString &text, int format)
{
    Q_UNUSED(format);
    return withRetry([&] { return clipboard.setText(text); });
}
