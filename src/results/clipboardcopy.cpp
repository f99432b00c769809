#include "results/clipboardcopy.h"

#include "platform/clipboard.h"
#include "platform/runtimeerror.h"
#include "results/linebytes.h"
#include "results/pivot.h"

#include <QList>
#include <QStringDecoder>

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

// True when every byte is below 0x80: then each byte is one UTF-16 code unit.
bool isAscii(QByteArrayView utf8)
{
    const char *p = utf8.data();
    const char *end = p + utf8.size();
    uint64_t high = 0;
    for (; end - p >= 8; p += 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; p != end; ++p)
        high |= static_cast<unsigned char>(*p);
    return (high & 0x8080808080808080ull) == 0;
}

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

    // Width pass over every row, checked or not, one row at a time. In a row of ASCII text
    // (the usual case, checked once for the whole row) a cell's width is its byte count.
    std::vector<qsizetype> widths(size_t(columns), 0);
    qsizetype checkedRows = 0;
    qsizetype lastCells = 0; // the widths of the checked rows' cells in the last column
    for (qsizetype r = 0; r < rows; ++r) {
        step();
        unchanged();
        cellsSinceYield += table.cellCount(r) + 1;
        const RowCells &cells = table.rowCells(r);
        const int n = columns > 0 ? cells.count() : 0;
        const bool ascii = isAscii(cells.allText());
        qsizetype width = 0;
        for (int i = 0; i < n; ++i) {
            const QByteArrayView cell = cells.text(i);
            width = ascii ? cell.size() : utf16Length(cell);
            qsizetype &widest = widths[size_t(cells.column(i))];
            widest = std::max(widest, width);
        }
        if (checked[size_t(r)]) {
            ++checkedRows;
            if (n > 0 && cells.column(n - 1) == columns - 1)
                lastCells += width;
        }
    }

    // Each checked row's line is laid out as UTF-8 in a scratch buffer and decoded straight
    // into the text. Every line ends in CR LF, so no UTF-8 sequence spans two lines and the
    // lines decode as the whole text would; the decoder keeps a leading U+FEFF, as
    // textFromUtf8 does.
    qsizetype paddedLine = 0; // every column padded and followed by a tab
    for (const qsizetype width : widths)
        paddedLine += width + 1;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text;
    // Room for the checked lines: each at most every column but the last padded, the last
    // column's own text (its padding is stripped) and CR LF. The decoder may ask for more near
    // the end, and bytes that are not UTF-8 may decode wider than they were measured: the text
    // then grows (a large block is remapped rather than copied), and what is left over goes back.
    const qsizetype lineWithoutLast = columns > 0 ? paddedLine - widths.back() - 1 : 0;
    text.resize(checkedRows * (lineWithoutLast + 2) + lastCells + 1);
    qsizetype used = 0;
    QByteArray line;
    cellsSinceYield = kCellsPerYield;
    for (qsizetype r = 0; r < rows; ++r) {
        step();
        unchanged();
        cellsSinceYield += table.cellCount(r) + 1;
        if (!checked[size_t(r)])
            continue;
        // At most the cells' bytes and every column's padding and tab: written in place.
        const RowCells &cells = table.rowCells(r);
        const bool ascii = isAscii(cells.allText());
        const qsizetype room = qsizetype(cells.textBytes()) + paddedLine + 2;
        if (line.size() < room)
            line.resize(room);
        char *begin = line.data();
        char *p = begin;
        int next = 0; // the next column to write
        auto pad = [&](int column, qsizetype units) {
            p = putRepeated(p, ' ', widths[size_t(column)] - units);
            *p++ = '\t';
        };
        const int n = columns > 0 ? cells.count() : 0;
        for (int i = 0; i < n; ++i) {
            const int column = cells.column(i);
            for (; next < column; ++next)
                pad(next, 0);
            const QByteArrayView cell = cells.text(i);
            p = putBytes(p, cell);
            pad(column, ascii ? cell.size() : utf16Length(cell));
            next = column + 1;
        }
        for (; next < columns; ++next)
            pad(next, 0);
        if (columns > 0)
            --p; // the last tab
        while (p > begin && p[-1] == ' ')
            --p;
        *p++ = '\r';
        *p++ = '\n';
        const QByteArrayView bytes(begin, p - begin);
        if (const qsizetype need = decoder.requiredSpace(bytes.size()); text.size() - used < need)
            text.resize(std::max(text.size() + text.size() / 2, used + need));
        used = decoder.appendToBuffer(text.data() + used, bytes) - text.constData();
    }
    text.resize(used);
    // Lines shortened by stripped padding, or text that outgrew its room, leave spare room.
    if (text.capacity() - used > used / 8)
        text.squeeze();
    return text;
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
