// Decoding a page body into text, with the encoding found the way browsers find it.

#include "lookup/pagetext.h"

#include <QStringDecoder>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <string_view>

namespace {

struct LabelEntry
{
    std::string_view label;
    const char *encoding;
};

// Browser encoding labels (lower case) and the encoding each stands for.
constexpr LabelEntry kLabels[] = {
    {"unicode-1-1-utf-8", "utf-8"},
    {"unicode11utf8", "utf-8"},
    {"unicode20utf8", "utf-8"},
    {"utf-8", "utf-8"},
    {"utf8", "utf-8"},
    {"x-unicode20utf8", "utf-8"},
    {"866", "ibm866"},
    {"cp866", "ibm866"},
    {"csibm866", "ibm866"},
    {"ibm866", "ibm866"},
    {"csisolatin2", "iso-8859-2"},
    {"iso-8859-2", "iso-8859-2"},
    {"iso-ir-101", "iso-8859-2"},
    {"iso8859-2", "iso-8859-2"},
    {"iso88592", "iso-8859-2"},
    {"iso_8859-2", "iso-8859-2"},
    {"iso_8859-2:1987", "iso-8859-2"},
    {"l2", "iso-8859-2"},
    {"latin2", "iso-8859-2"},
    {"csisolatin3", "iso-8859-3"},
    {"iso-8859-3", "iso-8859-3"},
    {"iso-ir-109", "iso-8859-3"},
    {"iso8859-3", "iso-8859-3"},
    {"iso88593", "iso-8859-3"},
    {"iso_8859-3", "iso-8859-3"},
    {"iso_8859-3:1988", "iso-8859-3"},
    {"l3", "iso-8859-3"},
    {"latin3", "iso-8859-3"},
    {"csisolatin4", "iso-8859-4"},
    {"iso-8859-4", "iso-8859-4"},
    {"iso-ir-110", "iso-8859-4"},
    {"iso8859-4", "iso-8859-4"},
    {"iso88594", "iso-8859-4"},
    {"iso_8859-4", "iso-8859-4"},
    {"iso_8859-4:1988", "iso-8859-4"},
    {"l4", "iso-8859-4"},
    {"latin4", "iso-8859-4"},
    {"csisolatincyrillic", "iso-8859-5"},
    {"cyrillic", "iso-8859-5"},
    {"iso-8859-5", "iso-8859-5"},
    {"iso-ir-144", "iso-8859-5"},
    {"iso8859-5", "iso-8859-5"},
    {"iso88595", "iso-8859-5"},
    {"iso_8859-5", "iso-8859-5"},
    {"iso_8859-5:1988", "iso-8859-5"},
    {"arabic", "iso-8859-6"},
    {"asmo-708", "iso-8859-6"},
    {"csiso88596e", "iso-8859-6"},
    {"csiso88596i", "iso-8859-6"},
    {"csisolatinarabic", "iso-8859-6"},
    {"ecma-114", "iso-8859-6"},
    {"iso-8859-6", "iso-8859-6"},
    {"iso-8859-6-e", "iso-8859-6"},
    {"iso-8859-6-i", "iso-8859-6"},
    {"iso-ir-127", "iso-8859-6"},
    {"iso8859-6", "iso-8859-6"},
    {"iso88596", "iso-8859-6"},
    {"iso_8859-6", "iso-8859-6"},
    {"iso_8859-6:1987", "iso-8859-6"},
    {"csisolatingreek", "iso-8859-7"},
    {"ecma-118", "iso-8859-7"},
    {"elot_928", "iso-8859-7"},
    {"greek", "iso-8859-7"},
    {"greek8", "iso-8859-7"},
    {"iso-8859-7", "iso-8859-7"},
    {"iso-ir-126", "iso-8859-7"},
    {"iso8859-7", "iso-8859-7"},
    {"iso88597", "iso-8859-7"},
    {"iso_8859-7", "iso-8859-7"},
    {"iso_8859-7:1987", "iso-8859-7"},
    {"sun_eu_greek", "iso-8859-7"},
    {"csiso88598e", "iso-8859-8"},
    {"csisolatinhebrew", "iso-8859-8"},
    {"hebrew", "iso-8859-8"},
    {"iso-8859-8", "iso-8859-8"},
    {"iso-8859-8-e", "iso-8859-8"},
    {"iso-ir-138", "iso-8859-8"},
    {"iso8859-8", "iso-8859-8"},
    {"iso88598", "iso-8859-8"},
    {"iso_8859-8", "iso-8859-8"},
    {"iso_8859-8:1988", "iso-8859-8"},
    {"visual", "iso-8859-8"},
    {"csiso88598i", "iso-8859-8-i"},
    {"iso-8859-8-i", "iso-8859-8-i"},
    {"logical", "iso-8859-8-i"},
    {"csisolatin6", "iso-8859-10"},
    {"iso-8859-10", "iso-8859-10"},
    {"iso-ir-157", "iso-8859-10"},
    {"iso8859-10", "iso-8859-10"},
    {"iso885910", "iso-8859-10"},
    {"l6", "iso-8859-10"},
    {"latin6", "iso-8859-10"},
    {"iso-8859-13", "iso-8859-13"},
    {"iso8859-13", "iso-8859-13"},
    {"iso885913", "iso-8859-13"},
    {"iso-8859-14", "iso-8859-14"},
    {"iso8859-14", "iso-8859-14"},
    {"iso885914", "iso-8859-14"},
    {"csisolatin9", "iso-8859-15"},
    {"iso-8859-15", "iso-8859-15"},
    {"iso8859-15", "iso-8859-15"},
    {"iso885915", "iso-8859-15"},
    {"iso_8859-15", "iso-8859-15"},
    {"l9", "iso-8859-15"},
    {"iso-8859-16", "iso-8859-16"},
    {"cskoi8r", "koi8-r"},
    {"koi", "koi8-r"},
    {"koi8", "koi8-r"},
    {"koi8-r", "koi8-r"},
    {"koi8_r", "koi8-r"},
    {"koi8-ru", "koi8-u"},
    {"koi8-u", "koi8-u"},
    {"csmacintosh", "macintosh"},
    {"mac", "macintosh"},
    {"macintosh", "macintosh"},
    {"x-mac-roman", "macintosh"},
    {"dos-874", "windows-874"},
    {"iso-8859-11", "windows-874"},
    {"iso8859-11", "windows-874"},
    {"iso885911", "windows-874"},
    {"tis-620", "windows-874"},
    {"windows-874", "windows-874"},
    {"cp1250", "windows-1250"},
    {"windows-1250", "windows-1250"},
    {"x-cp1250", "windows-1250"},
    {"cp1251", "windows-1251"},
    {"windows-1251", "windows-1251"},
    {"x-cp1251", "windows-1251"},
    {"ansi_x3.4-1968", "windows-1252"},
    {"ascii", "windows-1252"},
    {"cp1252", "windows-1252"},
    {"cp819", "windows-1252"},
    {"csisolatin1", "windows-1252"},
    {"ibm819", "windows-1252"},
    {"iso-8859-1", "windows-1252"},
    {"iso-ir-100", "windows-1252"},
    {"iso8859-1", "windows-1252"},
    {"iso88591", "windows-1252"},
    {"iso_8859-1", "windows-1252"},
    {"iso_8859-1:1987", "windows-1252"},
    {"l1", "windows-1252"},
    {"latin1", "windows-1252"},
    {"us-ascii", "windows-1252"},
    {"windows-1252", "windows-1252"},
    {"x-cp1252", "windows-1252"},
    {"cp1253", "windows-1253"},
    {"windows-1253", "windows-1253"},
    {"x-cp1253", "windows-1253"},
    {"cp1254", "windows-1254"},
    {"csisolatin5", "windows-1254"},
    {"iso-8859-9", "windows-1254"},
    {"iso-ir-148", "windows-1254"},
    {"iso8859-9", "windows-1254"},
    {"iso88599", "windows-1254"},
    {"iso_8859-9", "windows-1254"},
    {"iso_8859-9:1989", "windows-1254"},
    {"l5", "windows-1254"},
    {"latin5", "windows-1254"},
    {"windows-1254", "windows-1254"},
    {"x-cp1254", "windows-1254"},
    {"cp1255", "windows-1255"},
    {"windows-1255", "windows-1255"},
    {"x-cp1255", "windows-1255"},
    {"cp1256", "windows-1256"},
    {"windows-1256", "windows-1256"},
    {"x-cp1256", "windows-1256"},
    {"cp1257", "windows-1257"},
    {"windows-1257", "windows-1257"},
    {"x-cp1257", "windows-1257"},
    {"cp1258", "windows-1258"},
    {"windows-1258", "windows-1258"},
    {"x-cp1258", "windows-1258"},
    {"x-mac-cyrillic", "x-mac-cyrillic"},
    {"x-mac-ukrainian", "x-mac-cyrillic"},
    {"chinese", "gbk"},
    {"csgb2312", "gbk"},
    {"csiso58gb231280", "gbk"},
    {"gb2312", "gbk"},
    {"gb_2312", "gbk"},
    {"gb_2312-80", "gbk"},
    {"gbk", "gbk"},
    {"iso-ir-58", "gbk"},
    {"x-gbk", "gbk"},
    {"gb18030", "gb18030"},
    {"big5", "big5"},
    {"big5-hkscs", "big5"},
    {"cn-big5", "big5"},
    {"csbig5", "big5"},
    {"x-x-big5", "big5"},
    {"cseucpkdfmtjapanese", "euc-jp"},
    {"euc-jp", "euc-jp"},
    {"x-euc-jp", "euc-jp"},
    {"csiso2022jp", "iso-2022-jp"},
    {"iso-2022-jp", "iso-2022-jp"},
    {"csshiftjis", "shift_jis"},
    {"ms932", "shift_jis"},
    {"ms_kanji", "shift_jis"},
    {"shift-jis", "shift_jis"},
    {"shift_jis", "shift_jis"},
    {"sjis", "shift_jis"},
    {"windows-31j", "shift_jis"},
    {"x-sjis", "shift_jis"},
    {"cseuckr", "euc-kr"},
    {"csksc56011987", "euc-kr"},
    {"euc-kr", "euc-kr"},
    {"iso-ir-149", "euc-kr"},
    {"korean", "euc-kr"},
    {"ks_c_5601-1987", "euc-kr"},
    {"ks_c_5601-1989", "euc-kr"},
    {"ksc5601", "euc-kr"},
    {"ksc_5601", "euc-kr"},
    {"windows-949", "euc-kr"},
    {"unicodefffe", "utf-16be"},
    {"utf-16be", "utf-16be"},
    {"csunicode", "utf-16le"},
    {"iso-10646-ucs-2", "utf-16le"},
    {"ucs-2", "utf-16le"},
    {"unicode", "utf-16le"},
    {"unicodefeff", "utf-16le"},
    {"utf-16", "utf-16le"},
    {"utf-16le", "utf-16le"},
    {"x-user-defined", "x-user-defined"},
};

// The glibc iconv name of an encoding whose decoder is not built in here. Where browsers decode
// a superset of the registered charset (Shift_JIS as Windows-31J, EUC-KR as Windows-949, GBK
// as GB18030, Big5 with HKSCS), the superset is used.
const char *iconvName(QByteArrayView encoding)
{
    static constexpr std::pair<std::string_view, const char *> names[] = {
        {"ibm866", "IBM866"},
        {"iso-8859-2", "ISO-8859-2"},
        {"iso-8859-3", "ISO-8859-3"},
        {"iso-8859-4", "ISO-8859-4"},
        {"iso-8859-5", "ISO-8859-5"},
        {"iso-8859-6", "ISO-8859-6"},
        {"iso-8859-7", "ISO-8859-7"},
        {"iso-8859-8", "ISO-8859-8"},
        {"iso-8859-8-i", "ISO-8859-8"},
        {"iso-8859-10", "ISO-8859-10"},
        {"iso-8859-13", "ISO-8859-13"},
        {"iso-8859-14", "ISO-8859-14"},
        {"iso-8859-15", "ISO-8859-15"},
        {"iso-8859-16", "ISO-8859-16"},
        {"koi8-r", "KOI8-R"},
        {"koi8-u", "KOI8-U"},
        {"macintosh", "MACINTOSH"},
        {"windows-874", "CP874"},
        {"windows-1250", "CP1250"},
        {"windows-1251", "CP1251"},
        {"windows-1253", "CP1253"},
        {"windows-1254", "CP1254"},
        {"windows-1255", "CP1255"},
        {"windows-1256", "CP1256"},
        {"windows-1257", "CP1257"},
        {"windows-1258", "CP1258"},
        {"x-mac-cyrillic", "MAC-CYRILLIC"},
        {"gbk", "GB18030"},
        {"gb18030", "GB18030"},
        {"big5", "BIG5-HKSCS"},
        {"euc-jp", "EUC-JP"},
        {"iso-2022-jp", "ISO-2022-JP"},
        {"shift_jis", "CP932"},
        {"euc-kr", "CP949"},
    };
    const std::string_view wanted(encoding.data(), size_t(encoding.size()));
    for (const auto &[name, iconv] : names) {
        if (name == wanted)
            return iconv;
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
    for (const LabelEntry &entry : kLabels) {
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

    QByteArray encoding = EncodingForLabel(charsetParameter(contentTypeHeader));
    if (encoding.isEmpty())
        encoding = prescanForMetaCharset(bytes);
    if (encoding.isEmpty())
        encoding = QByteArrayLiteral("utf-8");
    return decodeAs(bytes, encoding);
}
