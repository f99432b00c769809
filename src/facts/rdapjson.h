#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

// JSON as the RDAP reading sees it. An answer is parsed by simdjson, several times faster than
// Qt's parser and without building Qt's containers; an answer simdjson refuses (a lone UTF-16
// surrogate in a \u escape, an integer past 64 bits, a byte-order mark, a control character
// left unescaped in a string, nesting deeper than MaxDepth) is read by Qt's parser as every
// answer was before, so what was accepted still is, with the same values. Objects that are
// already QJsonObject (built by a caller) are read through the same interface.

namespace RdapJsonDetail {
struct Document;
}

// One value of either kind: missing (a member the object does not have), or a value of a
// document that must outlive it.
class RdapValue
{
public:
    RdapValue() = default;
    RdapValue(const QJsonValue &value);   // NOLINT: a Qt value reads as one of ours
    RdapValue(const QJsonObject &object); // NOLINT

    bool isMissing() const { return m_kind == Kind::Missing; }
    bool isString() const;
    bool isNumber() const;
    bool isBool() const;
    bool isArray() const;
    bool isObject() const;

    // A member of an object (missing for anything else). Of two members with one name the last
    // counts, as in Qt's reading.
    RdapValue operator[](QLatin1StringView member) const;
    // Several members in one walk over the object's names, each as operator[] gives it:
    // values[i] is names[i]'s (the two spans of one size). An object read for many members
    // pays one walk instead of one each.
    void members(std::span<const QLatin1StringView> names, std::span<RdapValue> values) const;
    bool contains(QLatin1StringView member) const;
    // An object with no members, or no object at all.
    bool isEmptyObject() const;

    QString toString() const; // empty unless a string
    // toString().simplified(): white space trimmed, runs of it made one space.
    QString toSimplifiedString() const;
    // Whether the value is a string equal to `text` (ASCII), as QString::compare finds it, without
    // making a QString; `trimmed`: after QString::trimmed.
    bool equals(QLatin1StringView text, Qt::CaseSensitivity cs = Qt::CaseSensitive,
                bool trimmed = false) const;
    // The value as a short word to match against ASCII names (a jCard property's name, a
    // role), written into `buffer`: a string whose characters fold (Qt's case folding, as
    // equals() compares) to ASCII, in lower case, trimmed as QString::trimmed when `trimmed`.
    // Empty for anything else, or for a word longer than the buffer. It equals an ASCII name
    // in lower case exactly when equals(name, Qt::CaseInsensitive, trimmed) holds.
    std::string_view foldedWord(std::span<char> buffer, bool trimmed = false) const;
    double toDouble() const; // 0 unless a number
    bool toBool() const;     // false unless a boolean

    // An array's elements (none for anything else), in order.
    class Iterator
    {
    public:
        RdapValue operator*() const;
        Iterator &operator++();
        bool operator!=(const Iterator &other) const { return m_position != other.m_position; }

    private:
        friend class RdapValue;
        const RdapValue *m_array = nullptr;
        std::size_t m_position = 0; // Qt: the index; simdjson: the element's place on the tape
    };
    Iterator begin() const;
    Iterator end() const;
    RdapValue at(qsizetype index) const; // missing past the end

    QJsonValue toQJsonValue() const;

private:
    friend class RdapJson;
    enum class Kind : unsigned char
    {
        Missing,
        Qt,
        Simd
    };
    Kind m_kind = Kind::Missing;
    std::shared_ptr<const QJsonValue> m_qt; // Qt: the value (held apart, so ours stay small)
    // simdjson: the document and the value's place on its tape.
    const RdapJsonDetail::Document *m_document = nullptr;
    std::size_t m_index = 0;
};

// A parsed answer, shared by its copies; empty when nothing was parsed.
class RdapJson
{
public:
    // Nesting simdjson takes; a deeper answer goes to Qt's parser, whose own limit then holds.
    static constexpr std::size_t MaxDepth = 256;
    // The largest answer simdjson takes (answers are capped at 8 MiB before they get here).
    static constexpr std::size_t MaxBytes = 64 * 1024 * 1024;

    RdapJson() = default;
    RdapJson(const QJsonObject &object); // NOLINT

    // Parses bytes. Fails, with Qt's reason in `error`, where Qt's parser fails; a document
    // that is not an object parses but is no object.
    static RdapJson parse(const QByteArray &bytes, QString *error = nullptr);

    bool isObject() const;
    bool isEmpty() const { return root().isEmptyObject(); } // no object, or one with no members
    // Whether simdjson read it (false: Qt's parser, or a QJsonObject).
    bool isFast() const { return m_document != nullptr; }
    RdapValue root() const;
    operator RdapValue() const { return root(); } // NOLINT

private:
    std::shared_ptr<const RdapJsonDetail::Document> m_document;
    QJsonValue m_qt;
};
