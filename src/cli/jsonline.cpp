#include "cli/jsonline.h"

#include "facts/whoisdate.h"
#include "lookup/lookupresult.h"
#include "text/asciinarrow.h"
#include "text/utf8text.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cstring>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The line is laid out in a std::string, whose appends of a byte or a run are inline (a
// QByteArray append is a library call that checks for sharing each time), and copied out once.
using Out = std::string;

char hexDigit(unsigned value)
{
    return char(value < 10 ? '0' + value : 'a' + value - 10);
}

// What a JSON string cannot hold as it is: the quote, the backslash and the control characters.
constexpr std::array<bool, 256> escapeTable = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x20; ++c)
        table[size_t(c)] = true;
    table['"'] = true;
    table['\\'] = true;
    return table;
}();

bool needsEscape(unsigned char c)
{
    return escapeTable[c];
}

// Whether any of the eight bytes at `p` is below 0x20, a quote or a backslash: a byte below n
// leaves its high bit set in (w - n) & ~w, and a byte equal to c is a zero byte of w ^ c.
bool anyNeedsEscape(const char *p)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 highs = 0x8080808080808080ULL;
    quint64 w;
    std::memcpy(&w, p, sizeof w);
    const auto below = [](quint64 x, quint64 n) { return (x - ones * n) & ~x & highs; };
    return (below(w, 0x20) | below(w ^ (ones * '"'), 1) | below(w ^ (ones * '\\'), 1)) != 0;
}

void appendEscapedAscii(Out &out, unsigned char c)
{
    out += '\\';
    switch (c) {
    case '"':
        out += '"';
        return;
    case '\\':
        out += '\\';
        return;
    case '\b':
        out += 'b';
        return;
    case '\f':
        out += 'f';
        return;
    case '\n':
        out += 'n';
        return;
    case '\r':
        out += 'r';
        return;
    case '\t':
        out += 't';
        return;
    default:
        out += "u00";
        out += hexDigit(c >> 4);
        out += hexDigit(c & 0xF);
    }
}

// Bytes that need no escape go in runs (eight at a time while none needs one); the rest one by
// one. Bytes of 0x80 and above are parts of UTF-8 sequences and go as they are.
void appendValidUtf8(Out &out, QByteArrayView utf8)
{
    const char *p = utf8.data();
    const char *const end = p + utf8.size();
    while (p < end) {
        const char *run = p;
        while (end - p >= 8 && !anyNeedsEscape(p))
            p += 8;
        while (p < end && !needsEscape(static_cast<unsigned char>(*p)))
            ++p;
        out.append(run, size_t(p - run));
        if (p < end)
            appendEscapedAscii(out, static_cast<unsigned char>(*p++));
    }
}

// The end of the run of ASCII characters from `p` that need no escape: eight at a time while
// none of them does, then one by one.
const char16_t *plainAsciiRun(const char16_t *p, const char16_t *const end)
{
#ifdef __SSE2__
    for (; end - p >= 8; p += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Signed comparisons: 0x8000 and above count as below 0x20.
        const __m128i bad =
            _mm_or_si128(_mm_or_si128(_mm_cmplt_epi16(chunk, _mm_set1_epi16(0x20)),
                                      _mm_cmpgt_epi16(chunk, _mm_set1_epi16(0x7f))),
                         _mm_or_si128(_mm_cmpeq_epi16(chunk, _mm_set1_epi16('"')),
                                      _mm_cmpeq_epi16(chunk, _mm_set1_epi16('\\'))));
        if (_mm_movemask_epi8(bad) != 0)
            break;
    }
#endif
    while (p < end && *p < 0x80 && !needsEscape(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

void appendString(Out &out, QStringView text)
{
    out += '"';
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        // A run of ASCII that needs no escape goes in at once.
        const char16_t *run = p;
        p = plainAsciiRun(p, end);
        if (p > run) {
            const size_t at = out.size();
            out.resize(at + size_t(p - run));
            narrowAscii(QStringView(run, p), out.data() + at);
            if (p == end)
                break;
        }
        const char16_t u = *p++;
        if (u < 0x80) {
            if (needsEscape(static_cast<unsigned char>(u)))
                appendEscapedAscii(out, static_cast<unsigned char>(u));
            else
                out += char(u);
        } else if (u < 0x800) {
            out += char(0xC0 | (u >> 6));
            out += char(0x80 | (u & 0x3F));
        } else if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p)) {
            const char32_t c = QChar::surrogateToUcs4(u, *p++);
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else if (QChar::isSurrogate(u)) {
            // Half of a pair alone has no UTF-8 form: written as its escape.
            out += "\\u";
            out += hexDigit((u >> 12) & 0xF);
            out += hexDigit((u >> 8) & 0xF);
            out += hexDigit((u >> 4) & 0xF);
            out += hexDigit(u & 0xF);
        } else {
            out += char(0xE0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3F));
            out += char(0x80 | (u & 0x3F));
        }
    }
    out += '"';
}

// Whether `piece` of `whole` neither begins nor ends inside a character: a piece so cut from
// valid UTF-8 is valid itself.
bool cutAtCharacters(QByteArrayView whole, QByteArrayView piece)
{
    const auto continues = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
    const qsizetype end = piece.data() - whole.data() + piece.size();
    return (piece.isEmpty() || !continues(piece.front())) &&
           (end >= whole.size() || !continues(whole[end]));
}

void appendUtf8String(Out &out, QByteArrayView utf8, bool knownValid = false)
{
    if (!knownValid && !utf8.isValidUtf8()) {
        // Read as text would read it: each bad sequence becomes U+FFFD.
        appendString(out, textFromUtf8(utf8));
        return;
    }
    out += '"';
    appendValidUtf8(out, utf8);
    out += '"';
}

void appendStringArray(Out &out, const QStringList &list)
{
    out += '[';
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0)
            out += ',';
        appendString(out, list[i]);
    }
    out += ']';
}

void appendTo(QByteArray &out, const Out &laidOut)
{
    out.append(laidOut.data(), qsizetype(laidOut.size()));
}

} // namespace

namespace JsonLine {

QString utcText(qint64 msSinceEpoch)
{
    // Every line writes one: from the calendar date rather than through a QDateTime, which cost
    // a tenth of a line. Years the facts' dates cannot hold go the long way.
    const qint64 seconds = msSinceEpoch >= 0 ? msSinceEpoch / 1000 : -((999 - msSinceEpoch) / 1000);
    const QString text = utcDateFromSeconds(seconds);
    return !text.isEmpty()
               ? text
               : QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::UTC).toString(Qt::ISODate);
}

void appendString(QByteArray &out, QStringView text)
{
    Out laidOut;
    ::appendString(laidOut, text);
    appendTo(out, laidOut);
}

void appendUtf8String(QByteArray &out, QByteArrayView utf8)
{
    Out laidOut;
    ::appendUtf8String(laidOut, utf8);
    appendTo(out, laidOut);
}

void appendStringArray(QByteArray &out, const QStringList &list)
{
    Out laidOut;
    ::appendStringArray(laidOut, list);
    appendTo(out, laidOut);
}

QByteArray format(const LookupResult &result)
{
    Out line;
    line.reserve(size_t(256 + result.recordText.size() + result.fields.size() * 8));
    const auto key = [&line](const char *name) {
        line += ",\"";
        line += name;
        line += "\":";
    };
    line += "{\"address\":";
    ::appendString(line, result.address);
    key("source");
    ::appendString(line, result.source ? sourceKindName(*result.source) : QString());
    // The facts in column order, the reason of a failure right after the status; a fact the
    // record does not state is left out.
    bool errorWritten = false;
    const auto writeError = [&] {
        if (errorWritten || result.ok())
            return;
        errorWritten = true;
        key("error");
        ::appendString(line, failureText(result));
    };
    for (const FactColumn &column : factColumns()) {
        if (column.list) {
            const QStringList values = column.list(result.facts);
            if (!values.isEmpty()) {
                key(column.jsonKey);
                ::appendStringArray(line, values);
            }
        } else if (const QString value = column.cell(result.facts); !value.isEmpty()) {
            key(column.jsonKey);
            ::appendString(line, value);
        }
        if (qstrcmp(column.jsonKey, "status") == 0)
            writeError();
    }
    writeError();
    key("servers");
    ::appendStringArray(line, result.servers);
    // When the answer was given, whether it came from the store rather than a server, and what
    // changed since the address's previous stored answer.
    if (result.askedAtMs > 0) {
        key("asked_at");
        ::appendString(line, utcText(result.askedAtMs));
    }
    key("from_store");
    line += result.fromStore ? "true" : "false";
    if (!result.changed.isEmpty()) {
        key("changed");
        ::appendStringArray(line, result.changed);
    }
    key("fields");
    line += '[';
    // The fields are pieces of one buffer: checked once, not each piece again.
    const QByteArrayView buffer(result.fields.buffer());
    const bool bufferValid = buffer.isValidUtf8();
    const auto field = [&](QByteArrayView piece) {
        ::appendUtf8String(line, piece, bufferValid && cutAtCharacters(buffer, piece));
    };
    for (qsizetype i = 0; i < result.fields.size(); ++i) {
        line += i > 0 ? ",[" : "[";
        field(result.fields.nameUtf8(i));
        line += ',';
        field(result.fields.valueUtf8(i));
        line += ']';
    }
    line += "]}\n";
    return QByteArray(line.data(), qsizetype(line.size()));
}

std::optional<Summary> read(QByteArrayView line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
    const QJsonObject object = document.object();
    const QJsonValue address = object.value(QLatin1String("address"));
    if (!document.isObject() || !address.isString())
        return std::nullopt;
    Summary summary;
    summary.address = address.toString();
    summary.status = object.value(QLatin1String("status")).toString();
    // A lookup that did not get its answer is the one with an "error" (older files said
    // "status":"failed" alone).
    summary.failed =
        object.contains(QLatin1String("error")) || summary.status == QLatin1String("failed");
    return summary;
}

} // namespace JsonLine
