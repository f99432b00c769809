#pragma once

#include <QFont>
#include <QObject>
#include <QSet>

#include <vector>

class QHeaderView;
class QTreeView;
class ResultsTable;

// Keeps the results list readable while a run fills it: the address column, and for the
// registries' sources (port 43, RDAP) the summary columns, as wide as their caption and their
// longest value, so a date or a registrar shows whole; a column is made no wider than a cap, so
// one long value (an error's reason, a list of statuses) does not push the others out of sight.
// Widths only grow during a run. A column whose width the user has set (dragged, or its divider
// double-clicked) is left as the user set it until the next run begins.
class ResultColumns : public QObject
{
    Q_OBJECT

public:
    // No column is made wider than this by the program: the width the address column starts a
    // run with (5000 twips).
    static constexpr int CapPixels = 333;

    ResultColumns(QTreeView *view, ResultsTable *table);

    // How many columns after the address column are the summary columns: the summary captions
    // of the registries' sources (the status, the error, the facts), all of them, in their
    // order; 0 when the table holds another source's columns.
    static int summaryColumnCount(const ResultsTable &table);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn);
    void restart();
    void fit(int column, int contentWidth);
    int padding(int column, int row);
    // At least the text's advance, from the advances of its characters; -1 for a text with
    // control characters or characters beyond Latin-1.
    int quickBound(const QString &text);

    QTreeView *m_view;
    QHeaderView *m_header;
    ResultsTable *m_table;
    // Per column: the widest content fitted so far in this run (0: none yet).
    std::vector<int> m_fitted;
    // Per column: what a cell takes besides its text (margins, the check box), once measured.
    std::vector<int> m_padding;
    QSet<int> m_userSized;
    // The view font's advance of each Latin-1 character, measured when first needed.
    std::vector<qreal> m_advances;
    QFont m_advancesFont;
    // The summary column count, and the column count it was found for.
    int m_summary = 0;
    int m_summaryKnownFor = -1;
    bool m_resizing = false;
    bool m_mouseDown = false;
};
