#include "text/packedlines.h"

#include "text/utf8text.h"

#include <algorithm>

QString PackedLines::text(qsizetype i) const
{
    return textFromUtf8(utf8(i));
}

QStringList PackedLines::texts(qsizetype from, qsizetype count) const
{
    QStringList list;
    list.reserve(count);
    for (qsizetype i = from; i < from + count; ++i)
        list.append(text(i));
    return list;
}

QByteArray PackedLines::joined(char separator) const
{
    QByteArray out;
    if (isEmpty())
        return out;
    out.reserve(m_used + size() - 1);
    for (qsizetype i = 0; i < size(); ++i) {
        if (i > 0)
            out.append(separator);
        out.append(utf8(i));
    }
    return out;
}

void PackedLines::append(const QStringList &texts)
{
    m_ends.reserve(m_ends.size() + texts.size());
    for (const QString &text : texts)
        append(text);
}

void PackedLines::append(const PackedLines &lines)
{
    if (lines.isEmpty())
        return;
    const qsizetype base = m_used;
    if (m_bytes.size() - m_used < lines.m_used)
        grow(lines.m_used);
    if (lines.m_used > 0)
        std::memcpy(m_bytes.data() + m_used, lines.m_bytes.constData(), size_t(lines.m_used));
    m_used += lines.m_used;
    const qsizetype first = m_ends.size();
    m_ends.append(lines.m_ends);
    for (auto it = m_ends.begin() + first; it != m_ends.end(); ++it)
        *it += base;
}

void PackedLines::replace(qsizetype i, QByteArrayView utf8)
{
    Q_ASSERT(i >= 0 && i < size());
    const qsizetype begin = i == 0 ? 0 : m_ends[i - 1];
    const qsizetype end = m_ends[i];
    m_bytes.truncate(m_used);
    m_bytes.replace(begin, end - begin, utf8.data(), utf8.size());
    m_used = m_bytes.size();
    const qsizetype shift = utf8.size() - (end - begin);
    for (auto it = m_ends.begin() + i; it != m_ends.end(); ++it)
        *it += shift;
}

void PackedLines::remove(qsizetype from, qsizetype count)
{
    Q_ASSERT(from >= 0 && count >= 0 && from + count <= size());
    if (count == 0)
        return;
    const qsizetype begin = from == 0 ? 0 : m_ends[from - 1];
    const qsizetype end = m_ends[from + count - 1];
    m_bytes.truncate(m_used);
    m_bytes.remove(begin, end - begin);
    m_used = m_bytes.size();
    m_ends.remove(from, count);
    for (auto it = m_ends.begin() + from; it != m_ends.end(); ++it)
        *it -= end - begin;
}

void PackedLines::clear()
{
    m_bytes = QByteArray();
    m_used = 0;
    m_ends = QList<qsizetype>();
}

void PackedLines::grow(qsizetype more)
{
    // QByteArray grows by realloc, which moves a large buffer's pages instead of copying them.
    m_bytes.resize(std::max({m_used + more, 2 * m_bytes.size(), qsizetype(256)}));
}
