#pragma once

#include "text/packedlines.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

// The data of a list in report form: items numbered from 1, each with a text (column 1),
// sub-items (column k + 1 for sub-item k) and a checked flag, and column headers numbered
// from 1 with a text and a width in twips. Items are only ever appended or removed, never
// reordered. Item texts are kept as UTF-8 in one buffer (a million entries cost their bytes and
// about eight more each); sub-items are stored sparsely, so memory follows the cells that hold
// text, not items x columns.
//
// An index out of range throws RuntimeError, as a list control raises a run-time error.
class ListViewModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int DefaultWidth = -1;

    explicit ListViewModel(bool checkable = false, QObject *parent = nullptr);

    int itemCount() const { return int(m_items.size()); }
    int addItem(const QString &text);
    void addItems(const QStringList &texts);
    void addItems(PackedLines &&texts);
    void clearItems();
    void removeItem(int index);
    QString itemText(int index) const;
    // Every item's text, in order.
    const PackedLines &itemTexts() const { return m_items; }
    void setItemText(int index, const QString &text);
    QString subItem(int index, int k) const;
    void setSubItem(int index, int k, const QString &text);
    bool isChecked(int index) const;
    void setChecked(int index, bool checked);
    void setAllChecked(bool checked);
    bool isCheckable() const { return m_checkable; }

    int headerCount() const { return int(m_headers.size()); }
    int addHeader(const QString &text, int widthTwips = DefaultWidth);
    void clearHeaders();
    QString headerText(int k) const;
    int headerWidth(int k) const;
    void setHeaderWidth(int k, int widthTwips);

    // The number of sub-item cells that hold text, over all items.
    qsizetype filledCells() const;

    // A view lays out every row each time rows are added: found without the two virtual
    // calls of the generic check.
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    void headerWidthChanged(int k, int widthTwips);

private:
    struct Cell
    {
        int k;
        QString text;
    };
    using Cells = std::vector<Cell>; // sorted by k
    struct Header
    {
        QString text;
        int widthTwips;
    };

    void checkItem(int index) const;
    void checkHeader(int k) const;
    void inserting(qsizetype count);

    PackedLines m_items;
    std::vector<bool> m_checked; // a flag per item
    // The sub-items of the first items; the items past its end have none.
    std::vector<Cells> m_cells;
    std::vector<Header> m_headers;
    bool m_checkable;
};
