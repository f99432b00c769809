#include "facts/rdapjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVarLengthArray>

#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

using simdjson::internal::tape_ref;
using simdjson::internal::tape_type;

namespace RdapJsonDetail {
struct Document
{
    simdjson::dom::document dom;
};
} // namespace RdapJsonDetail

namespace {

// The root value's place on a document's tape (the tape starts with a root word).
constexpr std::size_t RootIndex = 1;
// A parser that has read an answer larger than this gives its buffers back afterwards, so one
// large answer does not keep them (about 5 bytes an answer byte) for the life of the thread.
constexpr std::size_t KeptParserBytes = 256 * 1024;

tape_ref tapeOf(const RdapJsonDetail::Document *document, std::size_t index)
{
    return tape_ref(&document->dom, index);
}

std::string_view latin1View(QLatin1StringView text)
{
    return std::string_view(text.data(), std::size_t(text.size()));
}

bool isAscii(std::string_view utf8)
{
    // Eight bytes at a time: any byte with its top bit set is beyond ASCII.
    std::size_t i = 0;
    for (; i + 8 <= utf8.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, utf8.data() + i, 8);
        if (word & 0x8080808080808080u)
            return false;
    }
    for (; i < utf8.size(); ++i) {
        if ((unsigned char)utf8[i] >= 0x80)
            return false;
    }
    return true;
}

bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// ASCII text without the white space QChar::isSpace finds at its ends.
std::string_view trimmedAscii(std::string_view text)
{
    while (!text.empty() && isAsciiSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isAsciiSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

enum class TextShape
{
    Simple,   // ASCII with no white space but single spaces between words
    Spaced,   // ASCII with white space to trim or fold (as QString::simplified does)
    NotAscii, // beyond ASCII
};

// One pass over a value, eight bytes at a time: a run of eight with nothing below '!' and
// nothing beyond ASCII (most of every value) needs no look at its bytes one by one.
TextShape shapeOf(std::string_view text)
{
    constexpr std::uint64_t Ones = 0x0101010101010101u;
    constexpr std::uint64_t Highs = 0x8080808080808080u;
    const std::size_t size = text.size();
    bool simple = size == 0 || (!isAsciiSpace(text.front()) && !isAsciiSpace(text.back()));
    const auto look = [&](std::size_t i) {
        if (simple && isAsciiSpace(text[i]))
            simple = text[i] == ' ' && i + 1 < size && !isAsciiSpace(text[i + 1]);
    };
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & Highs)
            return TextShape::NotAscii;
        if (((word - Ones * 0x21) & ~word & Highs) == 0)
            continue;
        for (std::size_t j = i; j < i + 8; ++j)
            look(j);
    }
    for (; i < size; ++i) {
        if ((unsigned char)text[i] >= 0x80)
            return TextShape::NotAscii;
        look(i);
    }
    return simple ? TextShape::Simple : TextShape::Spaced;
}

bool equalsAscii(std::string_view utf8, QLatin1StringView text, Qt::CaseSensitivity cs)
{
    // Beyond ASCII, letter case is Unicode's (as Qt compares), and lengths differ.
    if (cs == Qt::CaseInsensitive && !isAscii(utf8))
        return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).compare(text, cs) == 0;
    if (utf8.size() != std::size_t(text.size()))
        return false;
    if (cs == Qt::CaseSensitive)
        return utf8 == latin1View(text);
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(utf8[i]) != lower(text[qsizetype(i)].toLatin1()))
            return false;
    }
    return true;
}

// Text folded to lower-case ASCII into `buffer`; empty when a character folds to something
// else or the text does not fit.
std::string_view foldedAscii(QStringView text, std::span<char> buffer, bool trimmed)
{
    if (trimmed)
        text = text.trimmed();
    if (std::size_t(text.size()) > buffer.size())
        return {};
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].toCaseFolded().unicode();
        if (c >= 0x80)
            return {};
        buffer[std::size_t(i)] = char(c);
    }
    return std::string_view(buffer.data(), std::size_t(text.size()));
}

} // namespace

// ---- RdapValue -----------------------------------------------------------------------------

RdapValue::RdapValue(const QJsonValue &value)
{
    if (!value.isUndefined()) {
        m_kind = Kind::Qt;
        m_qt = std::make_shared<const QJsonValue>(value);
    }
}

RdapValue::RdapValue(const QJsonObject &object)
    : m_kind(Kind::Qt), m_qt(std::make_shared<const QJsonValue>(object))
{
}

bool RdapValue::isString() const
{
    if (m_kind == Kind::Simd)
        return tapeOf(m_document, m_index).tape_ref_type() == tape_type::STRING;
    return m_kind == Kind::Qt && m_qt->isString();
}

bool RdapValue::isNumber() const
{
    if (m_kind == Kind::Simd) {
        const tape_type type = tapeOf(m_document, m_index).tape_ref_type();
        return type == tape_type::INT64 || type == tape_type::UINT64 || type == tape_type::DOUBLE;
    }
    return m_kind == Kind::Qt && m_qt->isDouble();
}

bool RdapValue::isBool() const
{
    if (m_kind == Kind::Simd) {
        const tape_type type = tapeOf(m_document, m_index).tape_ref_type();
        return type == tape_type::TRUE_VALUE || type == tape_type::FALSE_VALUE;
    }
    return m_kind == Kind::Qt && m_qt->isBool();
}

bool RdapValue::isArray() const
{
    if (m_kind == Kind::Simd)
        return tapeOf(m_document, m_index).tape_ref_type() == tape_type::START_ARRAY;
    return m_kind == Kind::Qt && m_qt->isArray();
}

bool RdapValue::isObject() const
{
    if (m_kind == Kind::Simd)
        return tapeOf(m_document, m_index).tape_ref_type() == tape_type::START_OBJECT;
    return m_kind == Kind::Qt && m_qt->isObject();
}

RdapValue RdapValue::operator[](QLatin1StringView member) const
{
    if (m_kind == Kind::Qt)
        return m_qt->isObject() ? RdapValue(m_qt->toObject().value(member)) : RdapValue();
    if (!isObject())
        return {};
    // Members are key, value, key, value, ... up to the closing brace; the last match counts.
    const std::string_view key = latin1View(member);
    const tape_ref object = tapeOf(m_document, m_index);
    const std::size_t end = object.matching_brace_index() - 1;
    RdapValue found;
    for (std::size_t i = m_index + 1; i < end;) {
        const std::string_view name = tapeOf(m_document, i).get_string_view();
        const std::size_t valueIndex = i + 1;
        // Most names differ from the key in length or first letter: no call to compare them.
        if (name.size() == key.size() && (key.empty() || name.front() == key.front()) &&
            name == key) {
            found.m_kind = Kind::Simd;
            found.m_document = m_document;
            found.m_index = valueIndex;
        }
        i = tapeOf(m_document, valueIndex).after_element();
    }
    return found;
}

void RdapValue::members(std::span<const QLatin1StringView> names, std::span<RdapValue> values) const
{
    Q_ASSERT(names.size() == values.size());
    std::fill(values.begin(), values.end(), RdapValue());
    if (m_kind != Kind::Simd) {
        for (std::size_t j = 0; j < names.size(); ++j)
            values[j] = (*this)[names[j]];
        return;
    }
    if (!isObject())
        return;
    const std::size_t end = tapeOf(m_document, m_index).matching_brace_index() - 1;
    for (std::size_t i = m_index + 1; i < end;) {
        const std::string_view name = tapeOf(m_document, i).get_string_view();
        const std::size_t valueIndex = i + 1;
        for (std::size_t j = 0; j < names.size(); ++j) {
            const std::string_view key = latin1View(names[j]);
            if (name.size() == key.size() && (key.empty() || name.front() == key.front()) &&
                name == key) {
                values[j].m_kind = Kind::Simd;
                values[j].m_document = m_document;
                values[j].m_index = valueIndex;
            }
        }
        i = tapeOf(m_document, valueIndex).after_element();
    }
}

bool RdapValue::contains(QLatin1StringView member) const
{
    return !(*this)[member].isMissing();
}

bool RdapValue::isEmptyObject() const
{
    if (m_kind == Kind::Simd)
        return !isObject() || tapeOf(m_document, m_index).matching_brace_index() == m_index + 2;
    return m_kind == Kind::Missing || m_qt->toObject().isEmpty();
}

QString RdapValue::toString() const
{
    if (m_kind == Kind::Qt)
        return m_qt->toString();
    if (!isString())
        return {};
    const std::string_view text = tapeOf(m_document, m_index).get_string_view();
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString RdapValue::toSimplifiedString() const
{
    if (m_kind != Kind::Simd || !isString())
        return toString().simplified();
    const std::string_view text = tapeOf(m_document, m_index).get_string_view();
    const TextShape shape = shapeOf(text);
    if (shape == TextShape::NotAscii)
        return QString::fromUtf8(text.data(), qsizetype(text.size())).simplified();
    if (shape == TextShape::Simple)
        return QString::fromLatin1(text.data(), qsizetype(text.size()));
    // ASCII: the spaces QChar::isSpace knows there, dropped at the ends and made one between.
    QVarLengthArray<char, 256> out;
    bool pendingSpace = false;
    for (const char c : text) {
        if (isAsciiSpace(c)) {
            pendingSpace = !out.isEmpty();
            continue;
        }
        if (pendingSpace)
            out.append(' ');
        pendingSpace = false;
        out.append(c);
    }
    return QString::fromLatin1(out.data(), out.size());
}

bool RdapValue::equals(QLatin1StringView text, Qt::CaseSensitivity cs, bool trimmed) const
{
    if (m_kind == Kind::Qt) {
        if (!m_qt->isString())
            return false;
        const QString value = m_qt->toString();
        return (trimmed ? value.trimmed() : value).compare(text, cs) == 0;
    }
    if (!isString())
        return false;
    std::string_view value = tapeOf(m_document, m_index).get_string_view();
    if (trimmed) {
        // ASCII white space as QChar::isSpace has it; beyond ASCII, Qt's own trimming.
        if (!isAscii(value)) {
            const QString text16 = QString::fromUtf8(value.data(), qsizetype(value.size()));
            return text16.trimmed().compare(text, cs) == 0;
        }
        value = trimmedAscii(value);
    }
    return equalsAscii(value, text, cs);
}

std::string_view RdapValue::foldedWord(std::span<char> buffer, bool trimmed) const
{
    if (m_kind == Kind::Qt)
        return m_qt->isString() ? foldedAscii(m_qt->toString(), buffer, trimmed)
                                : std::string_view();
    if (!isString())
        return {};
    std::string_view value = tapeOf(m_document, m_index).get_string_view();
    if (!isAscii(value)) {
        const QString text = QString::fromUtf8(value.data(), qsizetype(value.size()));
        return foldedAscii(text, buffer, trimmed);
    }
    if (trimmed) {
        value = trimmedAscii(value);
    }
    if (value.size() > buffer.size())
        return {};
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        buffer[i] = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
    }
    return std::string_view(buffer.data(), value.size());
}

double RdapValue::toDouble() const
{
    if (m_kind == Kind::Qt)
        return m_qt->toDouble();
    if (m_kind == Kind::Missing)
        return 0;
    const tape_ref value = tapeOf(m_document, m_index);
    switch (value.tape_ref_type()) {
    case tape_type::INT64:
        return double(value.next_tape_value<int64_t>());
    case tape_type::UINT64:
        return double(value.next_tape_value<uint64_t>());
    case tape_type::DOUBLE:
        return value.next_tape_value<double>();
    default:
        return 0;
    }
}

bool RdapValue::toBool() const
{
    if (m_kind == Kind::Simd)
        return tapeOf(m_document, m_index).tape_ref_type() == tape_type::TRUE_VALUE;
    return m_kind == Kind::Qt && m_qt->toBool();
}

RdapValue::Iterator RdapValue::begin() const
{
    Iterator it;
    it.m_array = this;
    if (m_kind == Kind::Simd && isArray())
        it.m_position = m_index + 1;
    return it;
}

RdapValue::Iterator RdapValue::end() const
{
    Iterator it;
    it.m_array = this;
    if (m_kind == Kind::Simd && isArray())
        it.m_position = tapeOf(m_document, m_index).matching_brace_index() - 1;
    else if (m_kind == Kind::Qt && m_qt->isArray())
        it.m_position = std::size_t(m_qt->toArray().size());
    return it;
}

RdapValue RdapValue::Iterator::operator*() const
{
    if (m_array->m_kind == Kind::Qt)
        return RdapValue(m_array->m_qt->toArray().at(qsizetype(m_position)));
    RdapValue value;
    value.m_kind = Kind::Simd;
    value.m_document = m_array->m_document;
    value.m_index = m_position;
    return value;
}

RdapValue::Iterator &RdapValue::Iterator::operator++()
{
    if (m_array->m_kind == Kind::Qt)
        ++m_position;
    else
        m_position = tapeOf(m_array->m_document, m_position).after_element();
    return *this;
}

RdapValue RdapValue::at(qsizetype index) const
{
    if (m_kind == Kind::Qt)
        return m_qt->isArray() && index < m_qt->toArray().size()
                   ? RdapValue(m_qt->toArray().at(index))
                   : RdapValue();
    qsizetype i = 0;
    for (const RdapValue &value : *this) {
        if (i++ == index)
            return value;
    }
    return {};
}

QJsonValue RdapValue::toQJsonValue() const
{
    switch (m_kind) {
    case Kind::Missing:
        return QJsonValue(QJsonValue::Undefined);
    case Kind::Qt:
        return *m_qt;
    case Kind::Simd:
        break;
    }
    const tape_ref value = tapeOf(m_document, m_index);
    switch (value.tape_ref_type()) {
    case tape_type::STRING:
        return toString();
    case tape_type::INT64:
        return QJsonValue(qint64(value.next_tape_value<int64_t>()));
    case tape_type::UINT64:
    case tape_type::DOUBLE:
        return toDouble();
    case tape_type::TRUE_VALUE:
    case tape_type::FALSE_VALUE:
        return toBool();
    case tape_type::START_ARRAY: {
        QJsonArray array;
        for (const RdapValue &element : *this)
            array.append(element.toQJsonValue());
        return array;
    }
    case tape_type::START_OBJECT: {
        QJsonObject object;
        const std::size_t end = value.matching_brace_index() - 1;
        for (std::size_t i = m_index + 1; i < end;) {
            RdapValue member;
            member.m_kind = Kind::Simd;
            member.m_document = m_document;
            member.m_index = i + 1;
            const std::string_view name = tapeOf(m_document, i).get_string_view();
            object.insert(QString::fromUtf8(name.data(), qsizetype(name.size())),
                          member.toQJsonValue());
            i = tapeOf(m_document, i + 1).after_element();
        }
        return object;
    }
    default:
        return QJsonValue(QJsonValue::Null);
    }
}

// ---- RdapJson ------------------------------------------------------------------------------

RdapJson::RdapJson(const QJsonObject &object) : m_qt(object)
{
}

RdapJson RdapJson::parse(const QByteArray &bytes, QString *error)
{
    thread_local std::unique_ptr<simdjson::dom::parser> parser;
    if (std::size_t(bytes.size()) <= MaxBytes) {
        if (!parser) {
            parser = std::make_unique<simdjson::dom::parser>(MaxBytes);
            if (parser->allocate(64 * 1024, MaxDepth) != simdjson::SUCCESS)
                parser.reset();
        }
        auto document = std::make_shared<RdapJsonDetail::Document>();
        simdjson::dom::element root;
        const auto failed =
            !parser || parser
                           ->parse_into_document(document->dom,
                                                 reinterpret_cast<const uint8_t *>(bytes.data()),
                                                 std::size_t(bytes.size()))
                           .get(root);
        if (std::size_t(bytes.size()) > KeptParserBytes)
            parser.reset();
        if (!failed) {
            if (error)
                error->clear();
            RdapJson json;
            json.m_document = std::move(document);
            return json;
        }
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (error)
        *error =
            parseError.error == QJsonParseError::NoError ? QString() : parseError.errorString();
    RdapJson json;
    if (parseError.error == QJsonParseError::NoError)
        json.m_qt =
            document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    return json;
}

bool RdapJson::isObject() const
{
    return root().isObject();
}

RdapValue RdapJson::root() const
{
    if (!m_document)
        return RdapValue(m_qt);
    RdapValue value;
    value.m_kind = RdapValue::Kind::Simd;
    value.m_document = m_document.get();
    value.m_index = RootIndex;
    return value;
}
