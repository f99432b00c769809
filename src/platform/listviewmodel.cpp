#include "platform/listviewmodel.h"

#include "platform/listviewroles.h"

#include <algorithm>

using ListViewRoles::outOfBounds;

ListViewModel::ListViewModel(bool checkable, QObject *parent)
    : QAbstractTableModel(parent), m_checkable(checkable)
{
}

ListViewModel::Row &ListViewModel::row(int index)
{
    if (index < 1 || index > itemCount())
        outOfBounds();
    return m_rows[size_t(index - 1)];
}

const ListViewModel::Row &ListViewModel::row(int index) const
{
    if (index < 1 || index > itemCount())
        outOfBounds();
    return m_rows[size_t(index - 1)];
}

void ListViewModel::checkHeader(int k) const
{
    if (k < 1 || k > headerCount())
        outOfBounds();
}

int ListViewModel::addItem(const QString &text)
{
    const int at = itemCount();
    beginInsertRows({}, at, at);
    m_rows.push_back(Row{text, {}, false});
    endInsertRows();
    return at + 1;
}

void ListViewModel::addItems(const QStringList &texts)
{
    if (texts.isEmpty())
        return;
    const int at = itemCount();
    beginInsertRows({}, at, at + int(texts.size()) - 1);
    // Geometric growth: reserving exactly the new size would copy every row on each batch.
    if (m_rows.capacity() < m_rows.size() + size_t(texts.size()))
        m_rows.reserve(std::max(m_rows.size() + size_t(texts.size()), 2 * m_rows.capacity()));
    for (const QString &text : texts)
        m_rows.push_back(Row{text, {}, false});
    endInsertRows();
}

void ListViewModel::clearItems()
{
    if (m_rows.empty())
        return;
    beginRemoveRows({}, 0, itemCount() - 1);
    m_rows.clear();
    m_rows.shrink_to_fit();
    endRemoveRows();
}

void ListViewModel::removeItem(int index)
{
    row(index);
    beginRemoveRows({}, index - 1, index - 1);
    m_rows.erase(m_rows.begin() + (index - 1));
    endRemoveRows();
}

QString ListViewModel::itemText(int index) const
{
    return row(index).text;
}

void ListViewModel::setItemText(int index, const QString &text)
{
    row(index).text = text;
    const QModelIndex cell = createIndex(index - 1, 0);
    emit dataChanged(cell, cell, ListViewRoles::display());
}

QString ListViewModel::subItem(int index, int k) const
{
    const Row &r = row(index);
    if (k < 1 || k >= headerCount())
        outOfBounds();
    const auto it = std::lower_bound(r.cells.begin(), r.cells.end(), k,
                                     [](const Cell &c, int key) { return c.k < key; });
    return it != r.cells.end() && it->k == k ? it->text : QString();
}

void ListViewModel::setSubItem(int index, int k, const QString &text)
{
    Row &r = row(index);
    if (k < 1 || k >= headerCount())
        outOfBounds();
    auto it = std::lower_bound(r.cells.begin(), r.cells.end(), k,
                               [](const Cell &c, int key) { return c.k < key; });
    if (it != r.cells.end() && it->k == k) {
        if (text.isEmpty())
            r.cells.erase(it);
        else
            it->text = text;
    } else if (!text.isEmpty()) {
        r.cells.insert(it, Cell{k, text});
    }
    const QModelIndex cell = createIndex(index - 1, k);
    emit dataChanged(cell, cell, ListViewRoles::display());
}

bool ListViewModel::isChecked(int index) const
{
    return row(index).checked;
}

void ListViewModel::setChecked(int index, bool checked)
{
    row(index).checked = checked;
    const QModelIndex cell = createIndex(index - 1, 0);
    emit dataChanged(cell, cell, ListViewRoles::checkState());
}

void ListViewModel::setAllChecked(bool checked)
{
    if (m_rows.empty())
        return;
    for (Row &r : m_rows)
        r.checked = checked;
    emit dataChanged(createIndex(0, 0), createIndex(itemCount() - 1, 0),
                     ListViewRoles::checkState());
}

int ListViewModel::addHeader(const QString &text, int widthTwips)
{
    const int at = headerCount();
    beginInsertColumns({}, at, at);
    m_headers.push_back(Header{text, widthTwips});
    endInsertColumns();
    if (widthTwips != DefaultWidth)
        emit headerWidthChanged(at + 1, widthTwips);
    return at + 1;
}

void ListViewModel::clearHeaders()
{
    if (m_headers.empty())
        return;
    beginRemoveColumns({}, 0, headerCount() - 1);
    m_headers.clear();
    // Cells of columns that no longer exist are dropped with them.
    for (Row &r : m_rows)
        r.cells.clear();
    endRemoveColumns();
}

QString ListViewModel::headerText(int k) const
{
    checkHeader(k);
    return m_headers[size_t(k - 1)].text;
}

int ListViewModel::headerWidth(int k) const
{
    checkHeader(k);
    return m_headers[size_t(k - 1)].widthTwips;
}

void ListViewModel::setHeaderWidth(int k, int widthTwips)
{
    checkHeader(k);
    m_headers[size_t(k - 1)].widthTwips = widthTwips;
    emit headerWidthChanged(k, widthTwips);
}

qsizetype ListViewModel::filledCells() const
{
    qsizetype n = 0;
    for (const Row &r : m_rows)
        n += qsizetype(r.cells.size());
    return n;
}

int ListViewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : itemCount();
}

int ListViewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : headerCount();
}

QVariant ListViewModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= itemCount() || index.column() >= headerCount())
        return {};
    const Row &r = m_rows[size_t(index.row())];
    if (role == Qt::DisplayRole) {
        if (index.column() == 0)
            return r.text;
        return subItem(index.row() + 1, index.column());
    }
    if (role == Qt::CheckStateRole && m_checkable && index.column() == 0)
        return r.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool ListViewModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !m_checkable || !index.isValid() || index.column() != 0 ||
        index.row() >= itemCount())
        return false;
    setChecked(index.row() + 1, value.toInt() == Qt::Checked);
    return true;
}

QVariant ListViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < headerCount())
        return m_headers[size_t(section)].text;
    return {};
}

Qt::ItemFlags ListViewModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (m_checkable && index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}
