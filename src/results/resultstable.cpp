#include "results/resultstable.h"

QString trimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString trimSpaces(const QString &text)
{
    if (text.isEmpty() || (text.front() != QLatin1Char(' ') && text.back() != QLatin1Char(' ')))
        return text;
    return trimSpaces(QStringView(text));
}

ResultsTable::ResultsTable(QObject *parent) : ListViewModel(true, parent)
{
    // Keep the index in step with every change of the headers, whoever makes it.
    connect(this, &QAbstractItemModel::columnsInserted, this,
            [this](const QModelIndex &, int first, int last) { indexHeaders(first, last); });
    connect(this, &QAbstractItemModel::columnsRemoved, this, &ResultsTable::rebuildIndex);
    connect(this, &QAbstractItemModel::modelReset, this, &ResultsTable::rebuildIndex);
}

QString ResultsTable::columnKey(QStringView name)
{
    return trimSpaces(name).toLower();
}

void ResultsTable::indexHeaders(int first, int last)
{
    if (last + 1 < headerCount()) {
        // Inserted before existing columns: positions moved, so index afresh.
        rebuildIndex();
        return;
    }
    for (int k = first + 1; k <= last + 1; ++k) {
        const QString key = columnKey(headerText(k));
        if (!m_columnByKey.contains(key))
            m_columnByKey.insert(key, k);
    }
}

void ResultsTable::rebuildIndex()
{
    m_columnBySpelling.clear();
    m_columnByKey.clear();
    for (int k = 1; k <= headerCount(); ++k) {
        const QString key = columnKey(headerText(k));
        if (!m_columnByKey.contains(key))
            m_columnByKey.insert(key, k);
    }
}

void ResultsTable::ResetResultsTable()
{
    clearItems();
    clearHeaders();
    addHeader(AddressCaption, RunWidthTwips);
}

int ResultsTable::AddResultRow(const QString &address)
{
    return addItem(address);
}

int ResultsTable::FindResultColumn(const QString &name) const
{
    if (const auto hit = m_columnBySpelling.constFind(name); hit != m_columnBySpelling.cend())
        return hit.value();
    const int k = m_columnByKey.value(columnKey(name), -1);
    if (k != -1) {
        // Bounded: a hostile page can spell one name in endless ways.
        if (m_columnBySpelling.size() >= 65536)
            m_columnBySpelling.clear();
        m_columnBySpelling.insert(name, k);
    }
    return k;
}

bool ResultsTable::PlaceField(int row, const QString &name, const QString &value)
{
    const int k = FindResultColumn(name);
    if (k == 1)
        return false;
    const QString trimmedValue = trimSpaces(value);
    if (k == -1) {
        if (headerCount() >= MaxColumns)
            return false;
        const int added = addHeader(trimSpaces(name));
        setSubItem(row, added - 1, trimmedValue);
        return true;
    }
    const QString present = subItem(row, k - 1);
    setSubItem(row, k - 1,
               present.isEmpty() ? trimmedValue : present + QLatin1Char('\t') + trimmedValue);
    return true;
}

void ResultsTable::MarkRowInvalid(int row)
{
    setItemText(row, InvalidPrefix + itemText(row));
}
