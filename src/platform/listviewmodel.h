#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

// The data of a list in report form: items numbered from 1, each with a text (column 1),
// sub-items (column k + 1 for sub-item k) and a checked flag, and column headers numbered
// from 1 with a text and a width in twips. Items are only ever appended or removed, never
// reordered. Sub-items are stored sparsely, so memory follows the cells that hold text,
// not items x columns.
//
// An index out of range throws RuntimeError, as a list control raises a run-time error.
class ListViewModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int DefaultWidth = -1;

    explicit ListViewModel(bool checkable = false, QObject *parent = nullptr);

    int itemCount() const { return int(m_rows.size()); }
    int addItem(const QString &text);
    void addItems(const QStringList &texts);
    void clearItems();
    void removeItem(int index);
    QString itemText(int index) const;
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
    struct Row
    {
        QString text;
        std::vector<Cell> cells; // sorted by k
        bool checked = false;
    };
    struct Header
    {
        QString text;
        int widthTwips;
    };

    Row &row(int index);
    const Row &row(int index) const;
    void checkHeader(int k) const;

    std::vector<Row> m_rows;
    std::vector<Header> m_headers;
    bool m_checkable;
};
