#include "results/clipboardcopy.h"

#include "platform/clipboard.h"
#include "platform/runtimeerror.h"
#include "results/pivot.h"

#include <QList>

#include <algorithm>

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
    qsizetype n = 0;
    for (const char ch : utf8) {
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
    cellsSinceYield = kCellsPerYield;
    for (qsizetype r = 0; r < rows; ++r) {
        step();
        unchanged();
        cellsSinceYield += table.cellCount(r) + 1;
        if (!checked[size_t(r)])
            continue;
        int next = 0; // the next column to write
        auto pad = [&](int column, QByteArrayView cell) {
            text += cell;
            const qsizetype spaces = widths[size_t(column)] - utf16Length(cell);
            if (spaces > 0)
                text.append(spaces, ' ');
            text += '\t';
        };
        auto padEmptyUpTo = [&](int column) {
            for (; next < column; ++next) {
                if (widths[size_t(next)] > 0)
                    text.append(widths[size_t(next)], ' ');
                text += '\t';
            }
        };
        if (columns > 0) {
            pad(0, table.cellUtf8(r, 0));
            next = 1;
        }
        table.forEachCell(r, [&](int column, QByteArrayView cell) {
            padEmptyUpTo(column);
            pad(column, cell);
            next = column + 1;
        });
        padEmptyUpTo(columns);
        if (columns > 0)
            text.chop(1);
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == ' ')
            --end;
        text.truncate(end);
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
