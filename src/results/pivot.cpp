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
    const Row &r = m_rows[size_t(row)];
    if (column == 0)
        return r.address;
    const auto it = std::lower_bound(r.cells.begin(), r.cells.end(), column,
                                     [](const Cell &c, int key) { return c.column < key; });
    return it != r.cells.end() && it->column == column ? it->text : QString();
}

int Pivot::findColumn(QStringView name) const
{
    const QString spelling = name.toString();
    if (const auto hit = m_columnBySpelling.constFind(spelling); hit != m_columnBySpelling.cend())
        return hit.value();
    const int column = m_columnByKey.value(columnKey(name), -1);
    if (column != -1) {
        // Bounded: a hostile page can spell one name in endless ways.
        if (m_columnBySpelling.size() >= 65536)
            m_columnBySpelling.clear();
        m_columnBySpelling.insert(spelling, column);
    }
    return column;
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
    m_rows.push_back(Row{address, {}});
    return rowCount() - 1;
}

void Pivot::setAddressText(qsizetype row, const QString &text)
{
    m_rows[size_t(row)].address = text;
}

void Pivot::setCell(qsizetype row, int column, const QString &text)
{
    auto &cells = m_rows[size_t(row)].cells;
    auto it = std::lower_bound(cells.begin(), cells.end(), column,
                               [](const Cell &c, int key) { return c.column < key; });
    if (it != cells.end() && it->column == column) {
        if (text.isEmpty())
            cells.erase(it);
        else
            it->text = text;
    } else if (!text.isEmpty()) {
        cells.insert(it, Cell{column, text});
    }
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

Pivot::Placement Pivot::plan(const RecordFields &fields) const
{
    Placement placement;
    placement.columns.reserve(size_t(fields.size()));
    QHash<QString, int> added; // keys of the columns this record adds
    for (const RecordField &field : fields) {
        int column = findColumn(field.name);
        if (column == -1) {
            const QString key = columnKey(field.name);
            column = added.value(key, -1);
            if (column == -1 && columnCount() > 0 &&
                columnCount() + placement.newCaptions.size() < MaxColumns) {
                column = columnCount() + int(placement.newCaptions.size());
                placement.newCaptions.append(trimSpaces(field.name));
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

void Pivot::appendToCell(Row &row, int column, const QString &value)
{
    auto &cells = row.cells;
    auto it = cells.end();
    if (!cells.empty() && cells.back().column >= column)
        it = std::lower_bound(cells.begin(), cells.end(), column,
                              [](const Cell &c, int key) { return c.column < key; });
    if (it != cells.end() && it->column == column) {
        if (it->text.isEmpty())
            it->text = value;
        else
            it->text += QLatin1Char('\t') + value;
    } else if (!value.isEmpty()) {
        cells.insert(it, Cell{column, value});
    }
}

void Pivot::apply(qsizetype row, const RecordFields &fields, const Placement &placement)
{
    for (const QString &caption : placement.newCaptions)
        addColumn(caption);
    Row &r = m_rows[size_t(row)];
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const int column = placement.columns[size_t(i)];
        if (column > 0)
            appendToCell(r, column, trimSpaces(fields[i].value));
    }
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
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (const qsizetype old : order)
        sorted.push_back(std::move(m_rows[size_t(old)]));
    m_rows = std::move(sorted);
    return order;
}

void Pivot::markInvalid(qsizetype row)
{
    Row &r = m_rows[size_t(row)];
    r.address = InvalidPrefix + r.address;
}

qsizetype Pivot::filledCells() const
{
    qsizetype n = 0;
    for (const Row &r : m_rows)
        n += qsizetype(r.cells.size());
    return n;
}
