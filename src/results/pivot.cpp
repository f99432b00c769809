#include "results/pivot.h"

#include <algorithm>
#include <numeric>

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

QString Pivot::columnKey(QStringView name)
{
    return trimSpaces(name).toLower();
}

QString Pivot::cell(qsizetype row, int column) const
{
    return textFromUtf8(cellUtf8(row, column));
}

int Pivot::cellCount(qsizetype row) const
{
    const RowCells &cells = m_rows[size_t(row)];
    const int n = cells.count();
    return n > 0 && cells.column(0) == 0 ? n - 1 : n;
}

int Pivot::findColumnUtf8(QByteArrayView name) const
{
    // A key that borrows the bytes: no copy for a hit.
    const QByteArray spelling = QByteArray::fromRawData(name.data(), name.size());
    if (const auto hit = m_columnBySpelling.constFind(spelling); hit != m_columnBySpelling.cend())
        return hit.value();
    const int column = m_columnByKey.value(columnKey(textFromUtf8(name)), -1);
    if (column != -1) {
        // Bounded: a hostile page can spell one name in endless ways.
        if (m_columnBySpelling.size() >= 65536)
            m_columnBySpelling.clear();
        m_columnBySpelling.insert(name.toByteArray(), column);
    }
    return column;
}

int Pivot::findColumn(QStringView name) const
{
    return findColumnUtf8(name.toUtf8());
}

void Pivot::indexCaption(int column)
{
    const QString key = columnKey(m_captions[column]);
    if (!m_columnByKey.contains(key))
        m_columnByKey.insert(key, column);
}

int Pivot::addColumn(const QString &caption)
{
    m_captions.append(caption);
    const int column = columnCount() - 1;
    indexCaption(column);
    return column;
}

qsizetype Pivot::addRow(const QString &address)
{
    // The row before is most likely complete: its spare room goes.
    if (!m_rows.empty())
        m_rows.back().trim();
    m_rows.emplace_back();
    m_rows.back().set(0, address.toUtf8());
    return rowCount() - 1;
}

void Pivot::setCell(qsizetype row, int column, const QString &text)
{
    m_rows[size_t(row)].set(column, text.toUtf8());
}

void Pivot::removeRow(qsizetype row)
{
    m_rows.erase(m_rows.begin() + row);
}

void Pivot::clearRows()
{
    m_rows.clear();
    m_rows.shrink_to_fit();
}

void Pivot::reset()
{
    clearRows();
    m_captions.clear();
    m_columnByKey.clear();
    m_columnBySpelling.clear();
    addColumn(AddressCaption);
}

namespace {

QByteArrayView withoutEndSpaces(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace

Pivot::Placement Pivot::plan(const RecordFields &fields) const
{
    Placement placement;
    placement.columns.reserve(size_t(fields.size()));
    QHash<QString, int> added; // keys of the columns this record adds
    for (qsizetype i = 0; i < fields.size(); ++i) {
        int column = findColumnUtf8(fields.nameUtf8(i));
        if (column == -1) {
            const QString name = textFromUtf8(fields.nameUtf8(i));
            const QString key = columnKey(name);
            column = added.value(key, -1);
            if (column == -1 && columnCount() > 0 &&
                columnCount() + placement.newCaptions.size() < MaxColumns) {
                column = columnCount() + int(placement.newCaptions.size());
                placement.newCaptions.append(trimSpaces(name));
                added.insert(key, column);
            }
        }
        if (column <= 0) {
            // Named like the address column, or no room for another column.
            placement.complete = false;
            column = -1;
        }
        placement.columns.push_back(column);
    }
    return placement;
}

void Pivot::apply(qsizetype row, const RecordFields &fields, const Placement &placement)
{
    for (const QString &caption : placement.newCaptions)
        addColumn(caption);
    std::vector<RowCells::Addition> additions;
    additions.reserve(size_t(fields.size()));
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const int column = placement.columns[size_t(i)];
        if (column > 0)
            additions.push_back({column, withoutEndSpaces(fields.valueUtf8(i))});
    }
    std::stable_sort(additions.begin(), additions.end(),
                     [](const RowCells::Addition &a, const RowCells::Addition &b) {
                         return a.column < b.column;
                     });
    m_rows[size_t(row)].appendAll(additions.data(), additions.data() + additions.size());
}

bool Pivot::place(qsizetype row, const RecordFields &fields)
{
    const Placement placement = plan(fields);
    apply(row, fields, placement);
    return placement.complete;
}

std::vector<qsizetype> Pivot::sortRows(int column, bool descending)
{
    std::vector<qsizetype> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::vector<QString> keys(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i)
        keys[i] = cell(qsizetype(i), column);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const QString &left = keys[size_t(a)];
        const QString &right = keys[size_t(b)];
        if (left.isEmpty() || right.isEmpty())
            return !left.isEmpty() && right.isEmpty();
        const int c = left.compare(right, Qt::CaseInsensitive);
        return descending ? c > 0 : c < 0;
    });
    std::vector<RowCells> sorted;
    sorted.reserve(m_rows.size());
    for (const qsizetype old : order)
        sorted.push_back(std::move(m_rows[size_t(old)]));
    m_rows = std::move(sorted);
    return order;
}

void Pivot::markInvalid(qsizetype row)
{
    RowCells &cells = m_rows[size_t(row)];
    QByteArray marked = InvalidPrefix.toUtf8();
    marked += cells.textOf(0);
    cells.set(0, marked);
}

qsizetype Pivot::filledCells() const
{
    qsizetype n = 0;
    for (qsizetype row = 0; row < rowCount(); ++row)
        n += cellCount(row);
    return n;
}

qsizetype Pivot::textBytes() const
{
    qsizetype n = 0;
    for (const RowCells &cells : m_rows)
        n += qsizetype(cells.textBytes());
    return n;
}
