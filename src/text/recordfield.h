#pragma once

#include "text/utf8text.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

// One "name: value" field of a whois record, both without the spaces at their ends.
struct RecordField
{
    QString name;
    QString value;

    friend bool operator==(const RecordField &, const RecordField &) = default;
};

// A record's fields in record order, kept as UTF-8: the names and values are pieces of one
// buffer, usually the record's own rendered text, so cutting a record into fields copies
// nothing, and placing them copies each value once, into the results table.
class RecordFields
{
public:
    RecordFields() = default;
    RecordFields(std::initializer_list<RecordField> fields);
    // Fields that are pieces of `text` (UTF-8): add them with appendPiece.
    explicit RecordFields(QByteArray text) : m_text(std::move(text)) {}

    // Adds a field whose name and value are the bytes [nameBegin, nameEnd) and
    // [valueBegin, valueEnd) of the buffer given on construction.
    void appendPiece(qsizetype nameBegin, qsizetype nameEnd, qsizetype valueBegin,
                     qsizetype valueEnd);
    // Room for this many fields (and, for fields added with append, this many bytes of their
    // text), when that is known before they are added.
    void reserve(qsizetype count, qsizetype bytes = 0)
    {
        m_pieces.reserve(std::size_t(count));
        if (bytes > m_text.capacity())
            m_text.reserve(bytes);
    }
    // Adds a field from text (converted to UTF-8; unpaired surrogates become '?').
    void append(const RecordField &field);
    void append(QByteArrayView nameUtf8, QByteArrayView valueUtf8);

    // Drops the fields whose names begin at a byte offset `drop` answers true for.
    void removeIf(const std::function<bool(qsizetype nameBegin)> &drop);
    // The buffer the pieces are cut from.
    const QByteArray &buffer() const { return m_text; }

    qsizetype size() const { return qsizetype(m_pieces.size()); }
    bool isEmpty() const { return m_pieces.empty(); }
    QByteArrayView nameUtf8(qsizetype i) const
    {
        const Piece &p = m_pieces[size_t(i)];
        return QByteArrayView(m_text).sliced(p.nameBegin, p.valueBegin - p.nameBegin - p.gap);
    }
    QByteArrayView valueUtf8(qsizetype i) const
    {
        const Piece &p = m_pieces[size_t(i)];
        return QByteArrayView(m_text).sliced(p.valueBegin, p.valueLength);
    }
    RecordField at(qsizetype i) const;
    QList<RecordField> toList() const;

    friend bool operator==(const RecordFields &a, const RecordFields &b);

private:
    struct Piece
    {
        qsizetype nameBegin;
        qsizetype valueBegin;
        qsizetype valueLength;
        qsizetype gap; // bytes between the name's end and the value's start
    };

    QByteArray m_text;
    std::vector<Piece> m_pieces;
};
