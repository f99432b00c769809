#include "addresses/listviewmodel.h"

#include "platform/listviewroles.h"

#include <algorithm>

using ListViewRoles::outOfBounds;

ListViewModel::ListViewModel(bool checkable, QObject *parent)
    : QAbstractTableModel(parent), m_checkable(checkable)
{
}

void ListViewModel::checkItem(int index) const
{
    if (index < 1 || index > itemCount())
        outOfBounds();
}

void ListViewModel::checkHeader(int k) const
{
    if (k < 1 || k > headerCount())
        outOfBounds();
}

void ListViewModel::inserting(qsizetype count)
{
    const int at = itemCount();
    beginInsertRows({}, at, at + int(count) - 1);
    m_checked.resize(m_checked.size() + size_t(count), false);
}

int ListViewModel::addItem(const QString &text)
{
    inserting(1);
    m_items.append(text);
    endInsertRows();
    return itemCount();
}

void ListViewModel::addItems(const QStringList &texts)
{
    if (texts.isEmpty())
        return;
    inserting(texts.size());
    m_items.append(texts);
    endInsertRows();
}

void ListViewModel::addItems(PackedLines &&texts)
{
    if (texts.isEmpty())
        return;
    inserting(texts.size());
    if (m_items.isEmpty())
        m_items = std::move(texts);
    else
        m_items.append(texts);
    endInsertRows();
}

void ListViewModel::clearItems()
{
    if (m_items.isEmpty())
        return;
    beginRemoveRows({}, 0, itemCount() - 1);
    m_items.clear();
    m_checked = std::vector<bool>();
    m_cells = std::vector<Cells>();
    endRemoveRows();
}

void ListViewModel::removeItem(int index)
{
    checkItem(index);
    beginRemoveRows({}, index - 1, index - 1);
    m_items.remove(index - 1);
    m_checked.erase(m_checked.begin() + (index - 1));
    if (size_t(index - 1) < m_cells.size())
        m_cells.erase(m_cells.begin() + (index - 1));
    endRemoveRows();
}

QString ListViewModel::itemText(int index) const
{
    checkItem(index);
    return m_items.text(index - 1);
}

void ListViewModel::setItemText(int index, const QString &text)
{
    checkItem(index);
    m_items.replace(index - 1, text.toUtf8());
    const QModelIndex cell = createIndex(index - 1, 0);
    emit dataChanged(cell, cell, ListViewRoles::display());
}

QString ListViewModel::subItem(int index, int k) const
{
    checkItem(index);
    if (k < 1 || k >= headerCount())
        outOfBounds();
    if (size_t(index - 1) >= m_cells.size())
        return {};
    const Cells &cells = m_cells[size_t(index - 1)];
    const auto it = std::lower_bound(cells.begin(), cells.end(), k,
                                     [](const Cell &c, int key) { return c.k < key; });
    return it != cells.end() && it->k == k ? it->text : QString();
}

void ListViewModel::setSubItem(int index, int k, const QString &text)
{
    checkItem(index);
    if (k < 1 || k >= headerCount())
        outOfBounds();
    if (size_t(index - 1) >= m_cells.size()) {
        if (text.isEmpty())
            return;
        m_cells.resize(size_t(index));
    }
    Cells &cells = m_cells[size_t(index - 1)];
    auto it = std::lower_bound(cells.begin(), cells.end(), k,
                               [](const Cell &c, int key) { return c.k < key; });
    if (it != cells.end() && it->k == k) {
        if (text.isEmpty())
            cells.erase(it);
        else
            it->text = text;
    } else if (!text.isEmpty()) {
        cells.insert(it, Cell{k, text});
    }
    const QModelIndex cell = createIndex(index - 1, k);
    emit dataChanged(cell, cell, ListViewRoles::display());
}

bool ListViewModel::isChecked(int index) const
{
    checkItem(index);
    return m_checked[size_t(index - 1)];
}

void ListViewModel::setChecked(int index, bool checked)
{
    checkItem(index);
    m_checked[size_t(index - 1)] = checked;
    const QModelIndex cell = createIndex(index - 1, 0);
    emit dataChanged(cell, cell, ListViewRoles::checkState());
}

void ListViewModel::setAllChecked(bool checked)
{
    if (m_items.isEmpty())
        return;
    std::fill(m_checked.begin(), m_checked.end(), checked);
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
    m_cells = std::vector<Cells>();
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
    for (const Cells &cells : m_cells)
        n += qsizetype(cells.size());
    return n;
}

QModelIndex ListViewModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= itemCount() || column >= headerCount())
        return {};
    return createIndex(row, column);
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
    if (role == Qt::DisplayRole) {
        if (index.column() == 0)
            return m_items.text(index.row());
        return subItem(index.row() + 1, index.column());
    }
    if (role == Qt::CheckStateRole && m_checkable && index.column() == 0)
        return m_checked[size_t(index.row())] ? Qt::Checked : Qt::Unchecked;
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
