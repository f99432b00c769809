#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstring>

// Lines of text kept as UTF-8 in one buffer, with each line's end in an index: a million short
// lines cost their bytes and eight more each, not a string object apiece. Lines are numbered
// from 0; an index out of range is the caller's fault (checked by assertions only).
class PackedLines
{
public:
    qsizetype size() const { return m_ends.size(); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    // How many bytes the lines hold together.
    qsizetype byteSize() const { return m_used; }

    QByteArrayView utf8(qsizetype i) const
    {
        Q_ASSERT(i >= 0 && i < size());
        const qsizetype begin = i == 0 ? 0 : m_ends[i - 1];
        return QByteArrayView(m_bytes.constData() + begin, m_ends[i] - begin);
    }
    // Line i as text (a leading U+FEFF is kept).
    QString text(qsizetype i) const;
    // Lines [from, from + count) as text.
    QStringList texts(qsizetype from, qsizetype count) const;
    // The lines joined with the separator.
    QByteArray joined(char separator) const;

    void append(QByteArrayView utf8)
    {
        if (m_bytes.size() - m_used < utf8.size())
            grow(utf8.size());
        if (!utf8.isEmpty())
            std::memcpy(m_bytes.data() + m_used, utf8.data(), size_t(utf8.size()));
        m_used += utf8.size();
        m_ends.append(m_used);
    }
    // Unpaired UTF-16 surrogates in the text become '?', as QString::toUtf8 makes them.
    void append(const QString &text) { append(QByteArrayView(text.toUtf8())); }
    void append(const QStringList &texts);
    void append(const PackedLines &lines);
    void replace(qsizetype i, QByteArrayView utf8);
    void remove(qsizetype from, qsizetype count = 1);
    // Empties the list and gives its memory back.
    void clear();

private:
    // Makes room for `more` bytes past the used ones, growing geometrically.
    void grow(qsizetype more);

    // The lines' bytes are the first m_used; the rest is room to grow into, allocated but not
    // written (so not resident either), and appending a short line is a copy and a compare.
    // Both buffers grow by realloc, which moves a large block's pages instead of copying them,
    // so growing never holds the old and the new copy at once.
    QByteArray m_bytes;
    qsizetype m_used = 0;
    QList<qsizetype> m_ends;
};
