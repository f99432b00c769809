#include "results/clipboardcopy.h"

#include "platform/clipboard.h"
#include "platform/listviewmodel.h"
#include "platform/runtimeerror.h"

#include <QList>

#include <algorithm>

namespace {

QString cellText(const ListViewModel &list, int row, int column)
{
    return column == 1 ? list.itemText(row) : list.subItem(row, column - 1);
}

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

} // namespace

std::optional<QString> ListViewClipboardText(const ListViewModel &list,
                                             const std::function<void()> &yield)
{
    if (list.itemCount() == 0)
        return std::nullopt;
    auto step = [&] {
        if (yield)
            yield();
    };

    // Width pass over every row, checked or not.
    QList<qsizetype> widths;
    const int columns = list.headerCount();
    widths.reserve(columns);
    qsizetype widest = 0;
    for (int k = 1; k <= columns; ++k) {
        qsizetype width = 0;
        const int rows = list.itemCount();
        for (int j = 1; j <= rows; ++j) {
            step();
            width = std::max(width, cellText(list, j, k).size());
        }
        widths.append(width);
        widest = std::max(widest, width);
    }
    const QString spaces(widest, QLatin1Char(' '));

    QString text;
    const int rows = list.itemCount();
    for (int i = 1; i <= rows; ++i) {
        step();
        if (!list.isChecked(i))
            continue;
        const int lineColumns = list.headerCount();
        for (int k = 1; k <= lineColumns; ++k) {
            step();
            const QString cell = cellText(list, i, k);
            // A column added after the width pass has no width.
            if (k > widths.size())
                throw RuntimeError(QStringLiteral("Subscript out of range"));
            const qsizetype width = widths[k - 1];
            text += cell;
            if (width >= cell.size())
                text += QStringView(spaces).first(width - cell.size());
            text += QLatin1Char('\t');
        }
        if (lineColumns > 0)
            text.chop(1);
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char(' '))
            --end;
        text.truncate(end);
        text += QLatin1String("\r\n");
    }
    return text;
}

void ListViewToClipboard(const ListViewModel &list, Clipboard &clipboard,
                         const std::function<void()> &yield)
{
    const std::optional<QString> text = ListViewClipboardText(list, yield);
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
