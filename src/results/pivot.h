#pragma once

#include "results/rowcells.h"
#include "text/recordfield.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

// The results as a plain table: one row per looked-up address, one column per distinct field
// name, counted from 0. Column 0 holds each row's address; its caption is the address column's.
// A field goes to the column whose caption matches its name without the spaces at its ends,
// ignoring case; a name seen for the first time adds a column at the end. A second value for
// the same cell is appended after a tab. Cells are stored sparsely and as UTF-8, each row's
// in one block (RowCells): memory follows the text of the filled cells, not rows x columns.
// Text given as QString is stored as its toUtf8() (unpaired surrogates become '?'), as the
// exports write it.
class Pivot
{
public:
    static inline const QString AddressCaption = QStringLiteral("IP Address(es)/Domain(s)");
    static inline const QString InvalidPrefix = QStringLiteral("Invalid input: ");
    // Columns are counted with 16-bit numbers: names beyond this many columns are dropped.
    static constexpr int MaxColumns = 32767;

    // Where the fields of one record go, worked out before anything changes, so that a
    // table model can announce the new columns first.
    struct Placement
    {
        std::vector<int> columns; // per field: its column, or -1 when it is dropped
        QStringList newCaptions;  // the columns the record adds, in order
        bool complete = true;     // false when a field was dropped
    };

    int columnCount() const { return int(m_captions.size()); }
    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    const QString &caption(int column) const { return m_captions[column]; }
    const QStringList &captions() const { return m_captions; }
    // Column 0 is the row's address text; an empty string where the row has no value.
    QString cell(qsizetype row, int column) const;
    QByteArrayView cellUtf8(qsizetype row, int column) const
    {
        return m_rows[size_t(row)].textOf(column);
    }
    // Calls f(column, utf8) for each filled cell of the row after column 0, in column order.
    template <class F> void forEachCell(qsizetype row, F &&f) const
    {
        const RowCells &cells = m_rows[size_t(row)];
        const int n = cells.count();
        for (int i = 0; i < n; ++i) {
            if (const int column = cells.column(i); column > 0)
                f(column, cells.text(i));
        }
    }
    // The number of filled cells of the row after column 0.
    int cellCount(qsizetype row) const;
    // The row's cells as stored, column 0 (the address) first when it is filled: for loops
    // that write every cell of many rows.
    const RowCells &rowCells(qsizetype row) const { return m_rows[size_t(row)]; }

    // The column whose caption matches the name, or -1.
    int findColumn(QStringView name) const;
    // Appends a column with this caption and returns its index.
    int addColumn(const QString &caption);
    // Appends a row whose address cell is the text; returns its index.
    qsizetype addRow(const QString &address);
    // Sets a cell after column 0 to the text as it is; the empty text empties it.
    void setCell(qsizetype row, int column, const QString &text);
    void removeRow(qsizetype row);
    // Every row goes; the columns stay.
    void clearRows();
    // Every row and column goes; only the address column comes back.
    void reset();

    // Plans and then applies the placing of a record's fields into the row. A field named like
    // the address column is dropped; so are new names once the table holds MaxColumns columns
    // (fields of existing columns are still placed).
    Placement plan(const RecordFields &fields) const;
    void apply(qsizetype row, const RecordFields &fields, const Placement &placement);
    bool place(qsizetype row, const RecordFields &fields);
    // Reorders the rows by the text of one column: ascending compares without regard to case,
    // empty cells last; descending is the reverse order, empty cells still last. Rows with equal
    // text keep their order. Returns the old row index of each new row.
    std::vector<qsizetype> sortRows(int column, bool descending);

    // Prefixes the row's address cell with "Invalid input: ".
    void markInvalid(qsizetype row);

    // The number of filled cells after column 0, over all rows.
    qsizetype filledCells() const;
    // The UTF-8 bytes of all cells' texts, addresses included.
    qsizetype textBytes() const;

    static QString columnKey(QStringView name);

private:
    int findColumnUtf8(QByteArrayView name) const;
    void indexCaption(int column);

    QStringList m_captions;
    // Column 0 of each row is its address.
    std::vector<RowCells> m_rows;
    QHash<QString, int> m_columnByKey;
    // Names as records spell them (UTF-8), mapped to their column: records repeat their names,
    // and a hit here spares making the key.
    mutable QHash<QByteArray, int> m_columnBySpelling;
};

// The text without the space characters (only U+0020) at its two ends.
QString trimSpaces(QStringView text);
// The same, sharing the text's data when there is nothing to remove.
QString trimSpaces(const QString &text);
