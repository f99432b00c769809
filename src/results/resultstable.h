#pragma once

#include "platform/listviewmodel.h"

#include <QHash>

// The results table: one row per looked-up address, one column per distinct field name.
// Column headers are found through a hash of their key (the name without the spaces at its
// ends, in lower case), so placing a field costs the same however many columns there are.
class ResultsTable : public ListViewModel
{
    Q_OBJECT

public:
    static inline const QString AddressCaption = QStringLiteral("IP Address(es)/Domain(s)");
    static inline const QString InvalidPrefix = QStringLiteral("Invalid input: ");
    static constexpr int StartWidthTwips = 7000;
    static constexpr int RunWidthTwips = 5000;
    // Columns are counted with 16-bit numbers: a name beyond this many columns is not placed.
    static constexpr int MaxColumns = 32767;

    explicit ResultsTable(QObject *parent = nullptr);

    // Every row and column goes; column 1 comes back 5000 twips wide.
    void ResetResultsTable();
    // Appends a row whose first cell is the address; returns its index.
    int AddResultRow(const QString &address);
    // The 1-based column whose header matches the name, or -1.
    int FindResultColumn(const QString &name) const;
    // Puts one field into the row; false when it cannot be placed (the name matches column 1,
    // or the table has no room for another column).
    bool PlaceField(int row, const QString &name, const QString &value);
    // Prefixes the row's first cell with "Invalid input: ".
    void MarkRowInvalid(int row);

    static QString columnKey(QStringView name);

private:
    void indexHeaders(int first, int last);
    void rebuildIndex();

    QHash<QString, int> m_columnByKey;
    // Names as records spell them, mapped to their column: a record repeats its names, and
    // a hit here spares making the key.
    mutable QHash<QString, int> m_columnBySpelling;
};

// The text without the space characters (only U+0020) at its two ends.
QString trimSpaces(QStringView text);
// The same, sharing the text's data when there is nothing to remove.
QString trimSpaces(const QString &text);
