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

std::optional<QString> ClipboardText(const Pivot &table, const std::vector<bool> &checked,
                                     const std::function<void()> &yield)
{
    if (table.rowCount() == 0)
        return std::nullopt;
    auto step = [&] {
        if (yield)
            yield();
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
        if (columns > 0)
            widths[0] = std::max(widths[0], table.cell(r, 0).size());
        table.forEachCell(r, [&](int column, const QString &text) {
            widths[size_t(column)] = std::max(widths[size_t(column)], text.size());
        });
    }
    const qsizetype widest = widths.empty() ? 0 : *std::max_element(widths.begin(), widths.end());
    const QString spaces(widest, QLatin1Char(' '));

    QString text;
    for (qsizetype r = 0; r < rows; ++r) {
        step();
        unchanged();
        if (!checked[size_t(r)])
            continue;
        int next = 0; // the next column to write
        auto pad = [&](int column, QStringView cell) {
            text += cell;
            text += QStringView(spaces).first(widths[size_t(column)] - cell.size());
            text += QLatin1Char('\t');
        };
        auto padEmptyUpTo = [&](int column) {
            for (; next < column; ++next)
                pad(next, {});
        };
        if (columns > 0) {
            pad(0, table.cell(r, 0));
            next = 1;
        }
        table.forEachCell(r, [&](int column, const QString &cell) {
            padEmptyUpTo(column);
            pad(column, cell);
            next = column + 1;
        });
        padEmptyUpTo(columns);
        if (columns > 0)
            text.chop(1);
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char(' '))
            --end;
        text.truncate(end);
        text += QLatin1String("\r\n");
    }
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
