#include "results/resultstable.h"

#include "platform/listviewroles.h"

using ListViewRoles::outOfBounds;

ResultsTable::ResultsTable(QObject *parent) : QAbstractTableModel(parent)
{
}

void ResultsTable::checkItem(int index) const
{
    if (index < 1 || index > itemCount())
        outOfBounds();
}

void ResultsTable::checkHeader(int k) const
{
    if (k < 1 || k > headerCount())
        outOfBounds();
}

void ResultsTable::ResetResultsTable()
{
    beginResetModel();
    m_pivot.reset();
    m_checked.clear();
    m_widths.assign(1, RunWidthTwips);
    endResetModel();
    emit headerWidthChanged(1, RunWidthTwips);
}

int ResultsTable::AddResultRow(const QString &address)
{
    const int at = itemCount();
    beginInsertRows({}, at, at);
    m_pivot.addRow(address);
    m_checked.push_back(false);
    endInsertRows();
    return at + 1;
}

int ResultsTable::FindResultColumn(const QString &name) const
{
    const int column = m_pivot.findColumn(name);
    return column < 0 ? -1 : column + 1;
}

void ResultsTable::addColumns(const QStringList &captions)
{
    if (captions.isEmpty())
        return;
    const int at = headerCount();
    beginInsertColumns({}, at, at + int(captions.size()) - 1);
    for (const QString &caption : captions) {
        m_pivot.addColumn(caption);
        m_widths.push_back(DefaultWidth);
    }
    endInsertColumns();
}

bool ResultsTable::placeFields(int row, const RecordFields &fields)
{
    checkItem(row);
    Pivot::Placement placement = m_pivot.plan(fields);
    addColumns(placement.newCaptions);
    placement.newCaptions.clear(); // added above
    m_pivot.apply(row - 1, fields, placement);
    emit dataChanged(createIndex(row - 1, 0), createIndex(row - 1, headerCount() - 1),
                     ListViewRoles::display());
    return placement.complete;
}

bool ResultsTable::PlaceField(int row, const QString &name, const QString &value)
{
    return placeFields(row, RecordFields{RecordField{name, value}});
}

void ResultsTable::MarkRowInvalid(int row)
{
    checkItem(row);
    m_pivot.markInvalid(row - 1);
    const QModelIndex cell = createIndex(row - 1, 0);
    emit dataChanged(cell, cell, ListViewRoles::display());
}

QString ResultsTable::itemText(int index) const
{
    checkItem(index);
    return m_pivot.cell(index - 1, 0);
}

QString ResultsTable::subItem(int index, int k) const
{
    checkItem(index);
    if (k < 1 || k >= headerCount())
        outOfBounds();
    return m_pivot.cell(index - 1, k);
}

void ResultsTable::setSubItem(int index, int k, const QString &text)
{
    checkItem(index);
    if (k < 1 || k >= headerCount())
        outOfBounds();
    m_pivot.setCell(index - 1, k, text);
    const QModelIndex cell = createIndex(index - 1, k);
    emit dataChanged(cell, cell, ListViewRoles::display());
}

void ResultsTable::removeItem(int index)
{
    checkItem(index);
    beginRemoveRows({}, index - 1, index - 1);
    m_pivot.removeRow(index - 1);
    m_checked.erase(m_checked.begin() + (index - 1));
    endRemoveRows();
}

void ResultsTable::clearItems()
{
    if (itemCount() == 0)
        return;
    beginRemoveRows({}, 0, itemCount() - 1);
    m_pivot.clearRows();
    m_checked.clear();
    m_checked.shrink_to_fit();
    endRemoveRows();
}

bool ResultsTable::isChecked(int index) const
{
    checkItem(index);
    return m_checked[size_t(index - 1)];
}

void ResultsTable::setChecked(int index, bool checked)
{
    checkItem(index);
    m_checked[size_t(index - 1)] = checked;
    const QModelIndex cell = createIndex(index - 1, 0);
    emit dataChanged(cell, cell, ListViewRoles::checkState());
}

void ResultsTable::setAllChecked(bool checked)
{
    if (itemCount() == 0)
        return;
    m_checked.assign(m_checked.size(), checked);
    emit dataChanged(createIndex(0, 0), createIndex(itemCount() - 1, 0),
                     ListViewRoles::checkState());
}

int ResultsTable::addHeader(const QString &text, int widthTwips)
{
    const int at = headerCount();
    beginInsertColumns({}, at, at);
    m_pivot.addColumn(text);
    m_widths.push_back(widthTwips);
    endInsertColumns();
    if (widthTwips != DefaultWidth)
        emit headerWidthChanged(at + 1, widthTwips);
    return at + 1;
}

QString ResultsTable::headerText(int k) const
{
    checkHeader(k);
    return m_pivot.caption(k - 1);
}

int ResultsTable::headerWidth(int k) const
{
    checkHeader(k);
    return m_widths[size_t(k - 1)];
}

void ResultsTable::setHeaderWidth(int k, int widthTwips)
{
    checkHeader(k);
    m_widths[size_t(k - 1)] = widthTwips;
    emit headerWidthChanged(k, widthTwips);
}

void ResultsTable::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= headerCount() || itemCount() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<qsizetype> moved = m_pivot.sortRows(column, order == Qt::DescendingOrder);
    std::vector<bool> checked(moved.size());
    std::vector<int> newRowOf(moved.size());
    for (size_t i = 0; i < moved.size(); ++i) {
        checked[i] = m_checked[size_t(moved[i])];
        newRowOf[size_t(moved[i])] = int(i);
    }
    m_checked = std::move(checked);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &index : before)
        after.append(createIndex(newRowOf[size_t(index.row())], index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ResultsTable::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : itemCount();
}

int ResultsTable::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : headerCount();
}

QVariant ResultsTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= itemCount() || index.column() >= headerCount())
        return {};
    if (role == Qt::DisplayRole)
        return m_pivot.cell(index.row(), index.column());
    if (role == Qt::CheckStateRole && index.column() == 0)
        return m_checked[size_t(index.row())] ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool ResultsTable::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0 ||
        index.row() >= itemCount())
        return false;
    setChecked(index.row() + 1, value.toInt() == Qt::Checked);
    return true;
}

QVariant ResultsTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < headerCount())
        return m_pivot.caption(section);
    return {};
}

Qt::ItemFlags ResultsTable::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}
