#pragma once

#include "results/pivot.h"

#include <QAbstractTableModel>

#include <vector>

// The results table in list-view form over a Pivot: items numbered from 1 (column 1 is the
// address, sub-item k is pivot column k), a check box per item, column widths in twips. A
// record's fields are placed in one step: its new columns are announced in one insertion and
// its row changes in one notification, so a view never measures a row cell by cell.
//
// An index out of range throws RuntimeError, as a list control raises a run-time error.
class ResultsTable : public QAbstractTableModel
{
    Q_OBJECT

public:
    static inline const QString AddressCaption = Pivot::AddressCaption;
    static inline const QString InvalidPrefix = Pivot::InvalidPrefix;
    static constexpr int StartWidthTwips = 7000;
    static constexpr int RunWidthTwips = 5000;
    static constexpr int MaxColumns = Pivot::MaxColumns;
    static constexpr int DefaultWidth = -1;

    explicit ResultsTable(QObject *parent = nullptr);

    const Pivot &pivot() const { return m_pivot; }
    // Which rows are ticked, by pivot row.
    const std::vector<bool> &checkedRows() const { return m_checked; }

    // Every row and column goes; column 1 comes back 5000 twips wide.
    void ResetResultsTable();
    // Appends a row whose first cell is the address; returns its index.
    int AddResultRow(const QString &address);
    // The 1-based column whose header matches the name, or -1.
    int FindResultColumn(const QString &name) const;
    // Puts one field into the row; false when it cannot be placed (the name matches column 1,
    // or the table has no room for another column).
    bool PlaceField(int row, const QString &name, const QString &value);
    // Puts a record's fields into the row in one step; false when some could not be placed.
    bool placeFields(int row, const RecordFields &fields);
    // Prefixes the row's first cell with "Invalid input: ".
    void MarkRowInvalid(int row);

    int itemCount() const { return int(m_pivot.rowCount()); }
    QString itemText(int index) const;
    QString subItem(int index, int k) const;
    void setSubItem(int index, int k, const QString &text);
    void removeItem(int index);
    void clearItems();
    bool isChecked(int index) const;
    void setChecked(int index, bool checked);
    void setAllChecked(bool checked);

    int headerCount() const { return m_pivot.columnCount(); }
    int addHeader(const QString &text, int widthTwips = DefaultWidth);
    QString headerText(int k) const;
    int headerWidth(int k) const;
    void setHeaderWidth(int k, int widthTwips);

    // Orders the rows by a column (0-based, as the view counts): ascending, or descending. The
    // exports write the rows in the order shown.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    void headerWidthChanged(int k, int widthTwips);

private:
    void checkItem(int index) const;
    void checkHeader(int k) const;
    void addColumns(const QStringList &captions);

    Pivot m_pivot;
    std::vector<bool> m_checked;
    std::vector<int> m_widths;
};
