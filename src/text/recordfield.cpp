#include "text/recordfield.h"

RecordFields::RecordFields(std::initializer_list<RecordField> fields)
{
    for (const RecordField &field : fields)
        append(field);
}

void RecordFields::appendPiece(qsizetype nameBegin, qsizetype nameEnd, qsizetype valueBegin,
                               qsizetype valueEnd)
{
    m_pieces.push_back({nameBegin, valueBegin, valueEnd - valueBegin, valueBegin - nameEnd});
}

void RecordFields::append(QByteArrayView nameUtf8, QByteArrayView valueUtf8)
{
    const qsizetype nameBegin = m_text.size();
    m_text.append(nameUtf8);
    const qsizetype valueBegin = m_text.size();
    m_text.append(valueUtf8);
    appendPiece(nameBegin, valueBegin, valueBegin, m_text.size());
}

void RecordFields::append(const RecordField &field)
{
    append(field.name.toUtf8(), field.value.toUtf8());
}

RecordField RecordFields::at(qsizetype i) const
{
    return RecordField{textFromUtf8(nameUtf8(i)), textFromUtf8(valueUtf8(i))};
}

QList<RecordField> RecordFields::toList() const
{
    QList<RecordField> list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i));
    return list;
}

bool operator==(const RecordFields &a, const RecordFields &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.nameUtf8(i) != b.nameUtf8(i) || a.valueUtf8(i) != b.valueUtf8(i))
            return false;
    }
    return true;
}

void RecordFields::removeIf(const std::function<bool(qsizetype nameBegin)> &drop)
{
    std::erase_if(m_pieces, [&drop](const Piece &p) { return drop(p.nameBegin); });
}
