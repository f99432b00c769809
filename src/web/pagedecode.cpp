// Decoding a page body into text, with the encoding found the way browsers find it.

#include "web/pagetext.h"

#include "web/encodinglabels.h"

#include <QStringDecoder>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <string_view>

namespace {

// The glibc iconv name of an encoding whose decoder is not built in here.
const char *iconvName(QByteArrayView encoding)
{
    const std::string_view wanted(encoding.data(), size_t(encoding.size()));
    for (const EncodingLabel &entry : iconvNames()) {
        if (entry.label == wanted)
            return entry.encoding;
    }
    return nullptr;
}

bool isAsciiWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

bool startsWithNoCase(QByteArrayView text, qsizetype at, std::string_view lowerWord)
{
    if (at + qsizetype(lowerWord.size()) > text.size())
        return false;
    for (size_t i = 0; i < lowerWord.size(); ++i) {
        if (asciiLower(text[at + qsizetype(i)]) != lowerWord[i])
            return false;
    }
    return true;
}

// The value of the first "charset=" in a Content-Type value or a meta element's content
// attribute: quoted, or up to a ';' or white space.
QByteArray charsetParameter(QByteArrayView text)
{
    qsizetype at = 0;
    for (;;) {
        qsizetype found = -1;
        for (qsizetype i = at; i + 7 <= text.size(); ++i) {
            if (startsWithNoCase(text, i, "charset")) {
                found = i;
                break;
            }
        }
        if (found < 0)
            return {};
        qsizetype i = found + 7;
        while (i < text.size() && isAsciiWhitespace(text[i]))
            ++i;
        if (i >= text.size() || text[i] != '=') {
            at = found + 7;
            continue;
        }
        ++i;
        while (i < text.size() && isAsciiWhitespace(text[i]))
            ++i;
        if (i >= text.size())
            return {};
        if (text[i] == '"' || text[i] == '\'') {
            const char quote = text[i];
            const qsizetype close = text.indexOf(quote, i + 1);
            if (close < 0)
                return {};
            return text.sliced(i + 1, close - i - 1).toByteArray();
        }
        qsizetype end = i;
        while (end < text.size() && text[end] != ';' && !isAsciiWhitespace(text[end]))
            ++end;
        return text.sliced(i, end - i).toByteArray();
    }
}

struct Attribute
{
    QByteArray name;
    QByteArray value;
};

// Reads one attribute of a tag for the meta prescan; false at the end of the tag.
bool nextAttribute(QByteArrayView text, qsizetype &pos, Attribute &attribute)
{
    const qsizetype n = text.size();
    while (pos < n && (isAsciiWhitespace(text[pos]) || text[pos] == '/'))
        ++pos;
    if (pos >= n || text[pos] == '>')
        return false;
    attribute.name.clear();
    attribute.value.clear();
    for (;;) {
        if (pos >= n)
            return false;
        const char c = text[pos];
        if (c == '=' && !attribute.name.isEmpty()) {
            ++pos;
            break;
        }
        if (isAsciiWhitespace(c)) {
            while (pos < n && isAsciiWhitespace(text[pos]))
                ++pos;
            if (pos < n && text[pos] == '=') {
                ++pos;
                break;
            }
            return true;
        }
        if (c == '/' || c == '>')
            return true;
        attribute.name.append(asciiLower(c));
        ++pos;
    }
    while (pos < n && isAsciiWhitespace(text[pos]))
        ++pos;
    if (pos >= n)
        return false;
    if (text[pos] == '"' || text[pos] == '\'') {
        const char quote = text[pos];
        const qsizetype close = text.indexOf(quote, pos + 1);
        if (close < 0)
            return false;
        for (qsizetype i = pos + 1; i < close; ++i)
            attribute.value.append(asciiLower(text[i]));
        pos = close + 1;
        return true;
    }
    while (pos < n && !isAsciiWhitespace(text[pos]) && text[pos] != '>') {
        attribute.value.append(asciiLower(text[pos]));
        ++pos;
    }
    return true;
}

// The encoding a <meta> within the first 1024 bytes declares, or empty.
QByteArray prescanForMetaCharset(QByteArrayView body)
{
    const QByteArrayView text = body.first(qMin<qsizetype>(body.size(), 1024));
    const qsizetype n = text.size();
    qsizetype pos = 0;
    while (pos < n) {
        if (text[pos] != '<') {
            ++pos;
            continue;
        }
        if (startsWithNoCase(text, pos, "<!--")) {
            const qsizetype end = text.indexOf("-->", pos + 2);
            if (end < 0)
                return {};
            pos = end + 3;
        } else if (startsWithNoCase(text, pos, "<meta") && pos + 5 < n &&
                   (isAsciiWhitespace(text[pos + 5]) || text[pos + 5] == '/')) {
            pos += 5;
            bool gotPragma = false;
            bool needPragma = false;
            bool needPragmaKnown = false;
            QByteArray charset;
            QByteArray seen;
            Attribute attribute;
            while (nextAttribute(text, pos, attribute)) {
                // Only the first attribute of each name counts.
                const QByteArray key = '|' + attribute.name + '|';
                if (seen.contains(key))
                    continue;
                seen += key;
                if (attribute.name == "http-equiv") {
                    if (attribute.value == "content-type")
                        gotPragma = true;
                } else if (attribute.name == "content") {
                    const QByteArray label = charsetParameter(attribute.value);
                    if (!label.isEmpty() && charset.isEmpty()) {
                        charset = EncodingForLabel(label);
                        needPragma = true;
                        needPragmaKnown = true;
                    }
                } else if (attribute.name == "charset") {
                    charset = EncodingForLabel(attribute.value);
                    needPragma = false;
                    needPragmaKnown = true;
                }
            }
            if (!needPragmaKnown || charset.isEmpty() || (needPragma && !gotPragma))
                continue;
            if (charset.startsWith("utf-16"))
                return QByteArrayLiteral("utf-8");
            if (charset == "x-user-defined")
                return QByteArrayLiteral("windows-1252");
            return charset;
        } else if (pos + 1 < n && (std::isalpha(static_cast<unsigned char>(text[pos + 1])) ||
                                   (text[pos + 1] == '/' && pos + 2 < n &&
                                    std::isalpha(static_cast<unsigned char>(text[pos + 2]))))) {
            while (pos < n && !isAsciiWhitespace(text[pos]) && text[pos] != '>')
                ++pos;
            Attribute attribute;
            while (nextAttribute(text, pos, attribute)) {
            }
            ++pos;
        } else if (startsWithNoCase(text, pos, "<!") || startsWithNoCase(text, pos, "</") ||
                   startsWithNoCase(text, pos, "<?")) {
            const qsizetype end = text.indexOf('>', pos + 1);
            if (end < 0)
                return {};
            pos = end + 1;
        } else {
            ++pos;
        }
    }
    return {};
}

// windows-1252 bytes 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[i] = b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : char16_t(b);
    }
    return text;
}

QString decodeUserDefined(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[i] = b < 0x80 ? char16_t(b) : char16_t(0xF780 + b - 0x80);
    }
    return text;
}

QString decodeUtf16(QByteArrayView bytes, bool bigEndian)
{
    const qsizetype units = bytes.size() / 2;
    QString text(units + (bytes.size() % 2), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < units; ++i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        out[i] = bigEndian ? char16_t((a << 8) | b) : char16_t((b << 8) | a);
    }
    if (bytes.size() % 2)
        out[units] = u'\uFFFD';
    return text;
}

// Decodes through glibc iconv; each byte that does not start a valid sequence becomes U+FFFD.
QString decodeWithIconv(QByteArrayView bytes, const char *charset)
{
    const char *target = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
    iconv_t cd = iconv_open(target, charset);
    if (cd == iconv_t(-1))
        return QString::fromUtf8(bytes);
    // Two UTF-16 units per byte cover every charset here.
    QString text(bytes.size() * 2 + 4, Qt::Uninitialized);
    char *inPtr = const_cast<char *>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    char *outStart = reinterpret_cast<char *>(text.data());
    char *outPtr = outStart;
    size_t outLeft = size_t(text.size()) * 2;
    auto putReplacement = [&] {
        const char16_t replacement = u'\uFFFD';
        std::memcpy(outPtr, &replacement, 2);
        outPtr += 2;
        outLeft -= 2;
    };
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        if (errno == EILSEQ) {
            putReplacement();
            ++inPtr;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (errno == EINVAL) {
            putReplacement();
            break;
        } else {
            // E2BIG cannot happen with the room given; stop rather than loop.
            break;
        }
    }
    // Flushes the shift state of stateful encodings.
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    iconv_close(cd);
    text.truncate((outPtr - outStart) / 2);
    return text;
}

QString decodeAs(QByteArrayView bytes, QByteArrayView encoding)
{
    if (encoding == "utf-8")
        return QString::fromUtf8(bytes);
    if (encoding == "windows-1252")
        return decodeWindows1252(bytes);
    if (encoding == "utf-16le")
        return decodeUtf16(bytes, false);
    if (encoding == "utf-16be")
        return decodeUtf16(bytes, true);
    if (encoding == "x-user-defined")
        return decodeUserDefined(bytes);
    if (const char *charset = iconvName(encoding))
        return decodeWithIconv(bytes, charset);
    return QString::fromUtf8(bytes);
}

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF, no sequence cut short. Such text reads back from UTF-16 unchanged.
bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        // ASCII eight bytes at a time.
        while (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
        }
        if (p >= end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        auto continuation = [&](ptrdiff_t k) { return (p[k] & 0xC0) == 0x80; };
        if (c >= 0xC2 && c <= 0xDF) {
            if (end - p < 2 || !continuation(1))
                return false;
            p += 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            if (end - p < 3 || !continuation(1) || !continuation(2))
                return false;
            if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F))
                return false; // overlong, or a surrogate
            p += 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            if (end - p < 4 || !continuation(1) || !continuation(2) || !continuation(3))
                return false;
            if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] > 0x8F))
                return false; // overlong, or past U+10FFFF
            p += 4;
        } else {
            return false;
        }
    }
    return true;
}

// UTF-8 bytes as decoding them and encoding the text again gives them: a leading byte-order
// mark goes, and bytes that do not decode become U+FFFD. Well-formed text is taken as it is.
QByteArray normalisedUtf8(const QByteArray &body, qsizetype from)
{
    QByteArrayView bytes = QByteArrayView(body).sliced(from);
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
        from += 3;
    }
    if (!isValidUtf8(bytes))
        return QString::fromUtf8(bytes).toUtf8();
    return from == 0 ? body : bytes.toByteArray();
}

QByteArray encodingOf(const QByteArray &body, const QByteArray &contentTypeHeader)
{
    QByteArray encoding = EncodingForLabel(charsetParameter(contentTypeHeader));
    if (encoding.isEmpty())
        encoding = prescanForMetaCharset(body);
    if (encoding.isEmpty())
        encoding = QByteArrayLiteral("utf-8");
    return encoding;
}

} // namespace

QByteArray EncodingForLabel(QByteArrayView label)
{
    qsizetype begin = 0;
    qsizetype end = label.size();
    while (begin < end && isAsciiWhitespace(label[begin]))
        ++begin;
    while (end > begin && isAsciiWhitespace(label[end - 1]))
        --end;
    if (end - begin > 40)
        return {};
    std::string lower;
    for (qsizetype i = begin; i < end; ++i)
        lower.push_back(asciiLower(label[i]));
    for (const EncodingLabel &entry : encodingLabels()) {
        if (entry.label == lower)
            return QByteArray(entry.encoding);
    }
    return {};
}

QString DecodePage(const QByteArray &body, const QByteArray &contentTypeHeader)
{
    const QByteArrayView bytes(body);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.sliced(3));
    if (bytes.startsWith("\xFE\xFF"))
        return decodeUtf16(bytes.sliced(2), true);
    if (bytes.startsWith("\xFF\xFE"))
        return decodeUtf16(bytes.sliced(2), false);

    return decodeAs(bytes, encodingOf(body, contentTypeHeader));
}

QByteArray DecodePageUtf8(const QByteArray &body, const QByteArray &contentTypeHeader)
{
    const QByteArrayView bytes(body);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return normalisedUtf8(body, 3);
    if (bytes.startsWith("\xFE\xFF") || bytes.startsWith("\xFF\xFE"))
        return DecodePage(body, contentTypeHeader).toUtf8();
    const QByteArray encoding = encodingOf(body, contentTypeHeader);
    if (encoding == "utf-8")
        return normalisedUtf8(body, 0);
    return decodeAs(bytes, encoding).toUtf8();
}
