#include "app/resultcolumns.h"

#include "results/resultstable.h"
#include "run/resultplacing.h"

#include <QAbstractItemDelegate>
#include <QEvent>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QTreeView>

#include <algorithm>
#include <cmath>

ResultColumns::ResultColumns(QTreeView *view, ResultsTable *table)
    : QObject(view), m_view(view), m_header(view->header()), m_table(table)
{
    connect(table, &QAbstractItemModel::modelReset, this, &ResultColumns::restart);
    // Texts change when a row is added and when its record is placed (or marked failed); a
    // change of check boxes alone measures nothing.
    connect(table, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight,
                   const QList<int> &roles) {
                if (roles.isEmpty() || roles.contains(Qt::DisplayRole))
                    cellsChanged(topLeft.row(), bottomRight.row(), topLeft.column(),
                                 bottomRight.column());
            });
    connect(table, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { cellsChanged(first, last, 0, 0); });
    // A width set while the mouse holds the header is the user's.
    m_header->viewport()->installEventFilter(this);
    connect(m_header, &QHeaderView::sectionResized, this, [this](int column, int, int) {
        if (m_mouseDown && !m_resizing)
            m_userSized.insert(column);
    });
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this,
            [this](int column) { m_userSized.insert(column); });
}

bool ResultColumns::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress)
        m_mouseDown = true;
    else if (event->type() == QEvent::MouseButtonRelease)
        m_mouseDown = false;
    return QObject::eventFilter(watched, event);
}

int ResultColumns::summaryColumnCount(const ResultsTable &table)
{
    static const QStringList captions = summaryCaptions();
    const int count = int(captions.size());
    if (table.headerCount() <= count)
        return 0;
    for (int i = 0; i < count; ++i) {
        if (table.headerText(i + 2) != captions[i])
            return 0;
    }
    return count;
}

void ResultColumns::restart()
{
    m_summaryKnownFor = -1;
    m_fitted.clear();
    m_userSized.clear();
}

int ResultColumns::padding(int column, int row)
{
    if (m_padding.size() <= size_t(column))
        m_padding.resize(size_t(column) + 1, -1);
    int &padding = m_padding[size_t(column)];
    if (padding < 0) {
        // What the view's delegate asks for a cell beyond its text's advance: margins, and in
        // the first column the check box.
        const QModelIndex index = m_table->index(row, column);
        QStyleOptionViewItem option;
        option.initFrom(m_view);
        option.font = m_view->font();
        option.fontMetrics = m_view->fontMetrics();
        const int hint = m_view->itemDelegateForIndex(index)->sizeHint(option, index).width();
        padding = std::max(0, hint - m_view->fontMetrics().horizontalAdvance(
                                         index.data(Qt::DisplayRole).toString()));
    }
    return padding;
}

int ResultColumns::quickBound(const QString &text)
{
    if (m_advances.empty() || m_advancesFont != m_view->font()) {
        m_advances.assign(256, -1);
        m_advancesFont = m_view->font();
    }
    qreal sum = 0;
    for (const QChar c : text) {
        // Control characters (a tab) and characters beyond Latin-1 are measured whole.
        if (c.unicode() < 0x20 || c.unicode() >= m_advances.size())
            return -1;
        qreal &advance = m_advances[c.unicode()];
        if (advance < 0)
            advance = QFontMetricsF(m_advancesFont).horizontalAdvance(c);
        sum += advance;
    }
    // Shaping Latin text only takes kerning off the sum of its characters' advances, and the
    // whole is rounded: a pixel above the sum bounds it (11,490 lines of whois answers in this
    // font measured at most half a pixel above it).
    return int(std::ceil(sum)) + 1;
}

void ResultColumns::fit(int column, int contentWidth)
{
    if (m_fitted.size() <= size_t(column))
        m_fitted.resize(size_t(column) + 1, 0);
    int &fitted = m_fitted[size_t(column)];
    // A column is at least as wide as its caption.
    if (fitted == 0)
        contentWidth = std::max(contentWidth, m_header->sectionSizeHint(column));
    if (contentWidth <= fitted)
        return;
    fitted = contentWidth;
    if (m_userSized.contains(column))
        return;
    const int width = std::min(contentWidth, int(CapPixels));
    if (width == m_header->sectionSize(column))
        return;
    m_resizing = true;
    m_header->resizeSection(column, width);
    m_resizing = false;
}

void ResultColumns::cellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn)
{
    if (firstRow < 0 || lastRow >= m_table->itemCount())
        return;
    // Captions only change at a run's start or when columns are added: counted again then.
    if (m_summaryKnownFor != m_table->headerCount()) {
        m_summaryKnownFor = m_table->headerCount();
        m_summary = summaryColumnCount(*m_table);
    }
    lastColumn = std::min(lastColumn, m_summary);
    const QFontMetrics metrics = m_view->fontMetrics();
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const QString text = m_table->index(row, column).data(Qt::DisplayRole).toString();
            const int extra = padding(column, row);
            // Measuring shapes the text, which costs more than placing the row: a text whose
            // quick bound fits what the column was fitted to is not measured.
            const int bound = quickBound(text);
            if (bound >= 0 && size_t(column) < m_fitted.size() &&
                bound + extra <= m_fitted[size_t(column)])
                continue;
            // An empty cell asks for no more than its caption. Two spare pixels let a text of
            // the same characters (a date, a number) pass the quick bound next time.
            const int advance = text.isEmpty() ? 0 : metrics.horizontalAdvance(text) + 2;
            fit(column, advance + extra);
        }
    }
}
