// The fast text-run pass: long runs of plain text go to the parser as stand-ins.

#include "web/textruns.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

constexpr size_t kMinSpan = 4;
constexpr uint32_t kPerPlane = kStandInsPerPlane;

bool isSpace(unsigned char c)
{
    return isHtmlSpace(c);
}

bool isAlpha(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAlnum(unsigned char c)
{
    return isAlpha(c) || (c >= '0' && c <= '9');
}

void putCodePoint(char *out, uint32_t cp)
{
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
}

// Bytes that go on a run of text once it has begun, whatever comes around them: everything but
// markup, references, CR, NUL, the controls the parser replaces, and the lead bytes of the
// characters it replaces (C2 for C1 controls, EF and F0 to F4 for noncharacters), which are
// looked at one by one.
constexpr std::array<bool, 256> kRunBytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0x20; c < 0x7F; ++c)
        table[size_t(c)] = c != '<' && c != '&';
    table['\t'] = table['\n'] = table['\f'] = true;
    for (int c = 0x80; c <= 0xFF; ++c)
        table[size_t(c)] = c != 0xC2 && c != 0xEF && !(c >= 0xF0 && c <= 0xF4);
    return table;
}();

uint32_t decodeFourByte(const unsigned char *p)
{
    return (uint32_t(p[0] & 0x07) << 18) | (uint32_t(p[1] & 0x3F) << 12) |
           (uint32_t(p[2] & 0x3F) << 6) | uint32_t(p[3] & 0x3F);
}

class SkeletonBuilder
{
public:
    SkeletonBuilder(QByteArrayView source, std::string &skeleton, TextSpans &spans)
        : m_src(reinterpret_cast<const unsigned char *>(source.constData())),
          m_size(size_t(source.size())), m_out(skeleton), m_spans(spans)
    {
    }

    void run()
    {
        m_out.reserve(m_size / 4 + 64);
        size_t i = 0;
        size_t spanStart = npos;
        while (i < m_size) {
            const unsigned char c = m_src[i];
            if (spanStart == npos && c != '\r' && isSpace(c)) {
                if (m_spaceStart == npos)
                    m_spaceStart = i;
                ++i;
                continue;
            }
            if (m_spaceStart != npos) {
                collapseSpaces(m_spaceStart, i);
                m_spaceStart = npos;
            }
            if (c == '<' || c == '&' || c == '\r' || c == 0) {
                if (c == '<' && spanStart != npos) {
                    if (const size_t after = breakWithinRun(i)) {
                        m_lastBreak = i;
                        i = after;
                        continue;
                    }
                }
                closeSpan(spanStart, i);
                spanStart = npos;
                if (c == '<') {
                    if (m_breakRun && endsForm(i))
                        splitBreakRun();
                    if (placesPendingText(i))
                        m_breakRun.reset();
                    const size_t next = markup(i);
                    if (next == npos) {
                        copy(m_copied, m_size);
                        return;
                    }
                    i = next;
                } else if (c == '&') {
                    ++i;
                    while (i < m_size && (isAlnum(m_src[i]) || m_src[i] == '#'))
                        ++i;
                    if (i < m_size && m_src[i] == ';')
                        ++i;
                } else {
                    ++i;
                }
                continue;
            }
            if (const size_t length = replacedSequence(i)) {
                // The parser turns these characters into U+FFFD; it must see them itself.
                closeSpan(spanStart, i);
                spanStart = npos;
                i += length;
                continue;
            }
            if (spanStart == npos && !isSpace(c)) {
                spanStart = i;
                m_lastBreak = npos;
            }
            ++i;
            if (spanStart != npos) {
                while (i < m_size && kRunBytes[m_src[i]])
                    ++i;
            }
        }
        if (m_spaceStart != npos)
            collapseSpaces(m_spaceStart, m_size);
        closeSpan(spanStart, m_size);
        copy(m_copied, m_size);
    }

private:
    static constexpr size_t npos = size_t(-1);

    // The length of the UTF-8 sequence at `at` when it is one of the characters the parser
    // replaces by U+FFFD (C0 and C1 controls other than white space, noncharacters), else 0.
    size_t replacedSequence(size_t at) const
    {
        const unsigned char c = m_src[at];
        if (c < 0x80)
            return (c >= 0x01 && c <= 0x08) || c == 0x0B || (c >= 0x0E && c <= 0x1F) || c == 0x7F
                       ? 1
                       : 0;
        auto byte = [&](size_t k) -> unsigned { return at + k < m_size ? m_src[at + k] : 0; };
        if (c == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F)
            return 2;
        if (c == 0xEF && byte(1) == 0xB7 && byte(2) >= 0x90 && byte(2) <= 0xAF)
            return 3; // U+FDD0..U+FDEF
        if (c == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE)
            return 3; // U+FFFE, U+FFFF
        if (c >= 0xF0 && c <= 0xF4 && (byte(1) & 0x0F) == 0x0F && byte(2) == 0xBF &&
            byte(3) >= 0xBE)
            return 4; // U+xFFFE, U+xFFFF of the other planes
        return 0;
    }

    // True for a character that may continue a run: not white space, not the start of markup
    // or of a reference, nothing the parser replaces.
    bool continuesRun(size_t at) const
    {
        const unsigned char c = m_src[at];
        return !isSpace(c) && c != '<' && c != '&' && c != 0 && replacedSequence(at) == 0;
    }

    // Where a run goes on after a line break inside it ("<br>", "<br/>" or "<br />" at `at`),
    // or 0 when the run ends at `at`. Wherever the parser inserts text, it inserts a <br>
    // start tag at the same place, so "text<br>text" renders as the run with a line break in
    // it; the renderer makes that break. Not where a <br> may be foreign content or dropped
    // (SVG, a select), and only when text that is not white space follows, so that the
    // run's end is still text the parser treats like the run (in a table, white space alone
    // stays where it is while other text moves in front of the table).
    size_t breakWithinRun(size_t at) const
    {
        if (m_svgDepth > 0 || m_inSelect || at + 4 > m_size || (m_src[at + 1] | 0x20) != 'b' ||
            (m_src[at + 2] | 0x20) != 'r')
            return 0;
        size_t end = at + 3;
        if (end + 1 < m_size && m_src[end] == ' ' && m_src[end + 1] == '/')
            ++end;
        if (end < m_size && m_src[end] == '/')
            ++end;
        if (end >= m_size || m_src[end] != '>')
            return 0;
        ++end;
        size_t next = end;
        while (next < m_size && m_src[next] != '\r' && isSpace(m_src[next]))
            ++next;
        return next < m_size && continuesRun(next) ? end : 0;
    }

    // Whether the markup at `at` surely makes the parser place the text pending before it: a
    // comment, or the start tag of an element it always inserts here. A tag it ignores (an end
    // tag that closes nothing, a cell outside a table) leaves the text pending.
    bool placesPendingText(size_t at) const
    {
        if (startsWithNoCase(at, "<!--"))
            return true;
        if (m_inSelect || m_svgDepth > 0)
            return false;
        return std::any_of(std::begin(kPlacing), std::end(kPlacing), [&](std::string_view tag) {
            return startsWithNoCase(at, tag) && at + tag.size() < m_size &&
                   nameEndsAt(at + tag.size());
        });
    }

    // Whether a </form> end tag begins at `at`.
    bool endsForm(size_t at) const { return startsWithNoCase(at, "</form") && nameEndsAt(at + 6); }

    // Whether a tag's name ends at `at` (the page ending there too).
    bool nameEndsAt(size_t at) const
    {
        return at >= m_size || isSpace(m_src[at]) || m_src[at] == '/' || m_src[at] == '>';
    }

    static constexpr std::string_view kPlacing[] = {"<br", "<p", "<div"};

    // The parser places the text pending at a </form> after taking the form off its stack, so
    // outside the form. Of a run with a line break in it, that text is only what follows its
    // last break (and the text after the run): the run is cut there, its break and all that
    // follows go to the parser as they are.
    void splitBreakRun()
    {
        const BreakRun cut = *m_breakRun;
        m_breakRun.reset();
        m_spans.resize(cut.index + 1);
        TextSpan &span = m_spans.back();
        m_out.resize(cut.outEnd);
        m_copied = cut.lastBreak;
        span.length = cut.lastBreak - span.offset;
        if (span.length < kMinSpan) {
            m_out.resize(cut.outEnd - kStandInBytes);
            m_copied = span.offset;
            m_spans.pop_back();
        }
    }

    void copy(size_t from, size_t to)
    {
        if (from < m_copied)
            from = m_copied;
        if (to > from)
            m_out.append(reinterpret_cast<const char *>(m_src + from), to - from);
        m_copied = std::max(m_copied, to);
    }

    // White space between markup and text goes to the parser as its first character only: the
    // parser makes the same tree of it, and the renderer collapses it to one space anyway.
    // Not where white space is kept (once a pre, listing, textarea, xmp or plaintext element
    // has begun, for the rest of the page) nor in SVG content.
    void collapseSpaces(size_t from, size_t to)
    {
        if (!m_collapse || m_svgDepth > 0 || to - from < 2)
            return;
        copy(m_copied, from + 1);
        m_copied = to;
    }

    void closeSpan(size_t start, size_t end)
    {
        if (start == npos || end - start < kMinSpan ||
            m_spans.size() >= size_t(kPerPlane) * kPerPlane)
            return;
        copy(m_copied, start);
        const uint32_t index = uint32_t(m_spans.size());
        m_spans.push_back({start, end - start});
        char standIn[kStandInBytes];
        putCodePoint(standIn, 0xF0000 + index / kPerPlane);
        putCodePoint(standIn + 4, 0x100000 + index % kPerPlane);
        m_out.append(standIn, kStandInBytes);
        m_copied = end;
        if (m_lastBreak != npos && m_lastBreak < end)
            m_breakRun = BreakRun{m_spans.size() - 1, m_out.size(), m_lastBreak};
    }

    bool startsWithNoCase(size_t at, std::string_view lowerWord) const
    {
        if (at + lowerWord.size() > m_size)
            return false;
        for (size_t k = 0; k < lowerWord.size(); ++k) {
            unsigned char c = m_src[at + k];
            if (c >= 'A' && c <= 'Z')
                c = c + ('a' - 'A');
            if (c != static_cast<unsigned char>(lowerWord[k]))
                return false;
        }
        return true;
    }

    size_t find(size_t from, std::string_view what) const
    {
        const std::string_view all(reinterpret_cast<const char *>(m_src), m_size);
        const size_t at = all.find(what, from);
        return at == std::string_view::npos ? npos : at;
    }

    // Reads the tag that starts at `at` ('<' followed by a letter, or "</" and a letter): its
    // lower-case name and where it ends (after its '>'), following the tokenizer's rules for
    // attribute values. npos when the page ends inside the tag.
    size_t tag(size_t at, std::string &name, bool &selfClosing) const
    {
        size_t i = at + 1;
        if (m_src[i] == '/')
            ++i;
        name.clear();
        while (i < m_size && !isSpace(m_src[i]) && m_src[i] != '/' && m_src[i] != '>') {
            unsigned char c = m_src[i];
            if (c >= 'A' && c <= 'Z')
                c = c + ('a' - 'A');
            name.push_back(char(c));
            ++i;
        }
        selfClosing = false;
        for (;;) {
            while (i < m_size && (isSpace(m_src[i]) || m_src[i] == '/')) {
                selfClosing = m_src[i] == '/';
                ++i;
            }
            if (i >= m_size)
                return npos;
            if (m_src[i] == '>')
                return i + 1;
            selfClosing = false;
            // Attribute name: its first character may be '='.
            ++i;
            while (i < m_size && !isSpace(m_src[i]) && m_src[i] != '/' && m_src[i] != '>' &&
                   m_src[i] != '=')
                ++i;
            while (i < m_size && isSpace(m_src[i]))
                ++i;
            if (i >= m_size)
                return npos;
            if (m_src[i] != '=')
                continue;
            ++i;
            while (i < m_size && isSpace(m_src[i]))
                ++i;
            if (i >= m_size)
                return npos;
            if (m_src[i] == '"' || m_src[i] == '\'') {
                const char quote[2] = {char(m_src[i]), 0};
                const size_t close = find(i + 1, quote);
                if (close == npos)
                    return npos;
                i = close + 1;
            } else if (m_src[i] == '>') {
                return i + 1;
            } else {
                while (i < m_size && !isSpace(m_src[i]) && m_src[i] != '>')
                    ++i;
            }
        }
    }

    // Handles the markup that starts with the '<' at `at`; returns where scanning goes on, or
    // npos when no more stand-ins are to be made.
    size_t markup(size_t at)
    {
        if (at + 1 >= m_size)
            return at + 1;
        const unsigned char next = m_src[at + 1];
        if (next == '!') {
            if (startsWithNoCase(at, "<!--")) {
                const size_t body = at + 4;
                if (body < m_size && m_src[body] == '>')
                    return body + 1;
                if (startsWithNoCase(body, "->"))
                    return body + 2;
                const size_t dashes = find(body, "--");
                for (size_t d = dashes; d != npos; d = find(d + 1, "--")) {
                    if (startsWithNoCase(d + 2, ">"))
                        return d + 3;
                    if (startsWithNoCase(d + 2, "!>"))
                        return d + 4;
                }
                return npos;
            }
            if (m_svgDepth > 0 && startsWithNoCase(at, "<![cdata["))
                return npos;
            return toTagEnd(at + 2);
        }
        if (next == '?')
            return toTagEnd(at + 2);
        if (next == '/') {
            if (at + 2 >= m_size)
                return at + 2;
            if (m_src[at + 2] == '>')
                return at + 3;
            if (!isAlpha(m_src[at + 2]))
                return toTagEnd(at + 2);
            bool selfClosing;
            const size_t end = tag(at, m_name, selfClosing);
            if (end == npos)
                return npos;
            // A template inside the select holds content of its own, where the end tag
            // closes nothing.
            if (m_name == "select" && m_selectTemplates == 0)
                m_inSelect = false;
            else if (m_name == "template" && m_selectTemplates > 0)
                --m_selectTemplates;
            if (m_svgDepth > 0) {
                if (m_name == "svg")
                    --m_svgDepth;
                else if (m_name == "p" || m_name == "br")
                    return npos;
            }
            return end;
        }
        if (!isAlpha(next))
            return at + 1; // a '<' of text
        bool selfClosing;
        const size_t end = tag(at, m_name, selfClosing);
        if (end == npos)
            return npos;
        const std::string_view name = m_name;
        if (m_svgDepth > 0) {
            if (name == "svg") {
                if (!selfClosing)
                    ++m_svgDepth;
                return end;
            }
            // Elements that leave SVG content or hold HTML content inside it.
            static constexpr std::string_view leaving[] = {"b",          "big",
                                                           "blockquote", "body",
                                                           "br",         "center",
                                                           "code",       "dd",
                                                           "div",        "dl",
                                                           "dt",         "em",
                                                           "embed",      "h1",
                                                           "h2",         "h3",
                                                           "h4",         "h5",
                                                           "h6",         "head",
                                                           "hr",         "i",
                                                           "img",        "li",
                                                           "listing",    "menu",
                                                           "meta",       "nobr",
                                                           "ol",         "p",
                                                           "pre",        "ruby",
                                                           "s",          "small",
                                                           "span",       "strong",
                                                           "strike",     "sub",
                                                           "sup",        "table",
                                                           "tt",         "u",
                                                           "ul",         "var",
                                                           "font",       "foreignobject",
                                                           "desc",       "title",
                                                           "math",       "script",
                                                           "style",      "textarea",
                                                           "xmp",        "iframe",
                                                           "noembed",    "noframes",
                                                           "plaintext",  "template"};
            if (std::find(std::begin(leaving), std::end(leaving), name) != std::end(leaving))
                return npos;
            return end;
        }
        if (name.size() < 3)
            return end; // td, tr, p, br, a, ...: none of the names below
        if (name == "svg") {
            if (!selfClosing)
                m_svgDepth = 1;
            return end;
        }
        if (name == "pre" || name == "listing" || name == "textarea" || name == "xmp")
            m_collapse = false;
        if (name == "math" || name == "plaintext" || name == "frameset")
            return npos;
        if (name == "select")
            m_inSelect = true;
        else if (name == "template" && m_inSelect)
            ++m_selectTemplates;
        static constexpr std::string_view raw[] = {"script",  "style",    "xmp",   "iframe",
                                                   "noembed", "noframes", "title", "textarea"};
        if (std::find(std::begin(raw), std::end(raw), name) == std::end(raw))
            return end;
        // Inside a select most elements are dropped, and with them the raw content.
        if (m_inSelect && name != "script" && name != "textarea")
            return npos;
        // Raw content runs to the first end tag of the same name.
        const std::string closing = "</" + m_name;
        for (size_t close = end;; ++close) {
            close = findNoCase(close, closing);
            if (close == npos)
                return npos;
            const size_t after = close + closing.size();
            if (after < m_size &&
                (isSpace(m_src[after]) || m_src[after] == '/' || m_src[after] == '>')) {
                // Script content that opens "<!--" can hide its end tag; not worth following.
                if (name == "script" && find(end, "<!--") < close)
                    return npos;
                return close;
            }
        }
    }

    size_t findNoCase(size_t from, std::string_view lowerWord) const
    {
        for (size_t i = from; i + lowerWord.size() <= m_size; ++i) {
            const void *hit = std::memchr(m_src + i, '<', m_size - i);
            if (!hit)
                return npos;
            i = size_t(static_cast<const unsigned char *>(hit) - m_src);
            if (startsWithNoCase(i, lowerWord))
                return i;
        }
        return npos;
    }

    size_t toTagEnd(size_t from) const
    {
        const void *hit = from < m_size ? std::memchr(m_src + from, '>', m_size - from) : nullptr;
        return hit ? size_t(static_cast<const unsigned char *>(hit) - m_src) + 1 : npos;
    }

    const unsigned char *m_src;
    size_t m_size;
    std::string &m_out;
    TextSpans &m_spans;
    size_t m_copied = 0;
    int m_svgDepth = 0;
    bool m_inSelect = false;
    int m_selectTemplates = 0;
    bool m_collapse = true;
    size_t m_spaceStart = npos;
    size_t m_lastBreak = npos; // the '<' of the last line break let into the current run
    // The last run with a line break in it, until markup that places the text pending follows.
    struct BreakRun
    {
        size_t index;     // in m_spans
        size_t outEnd;    // the skeleton's size after its stand-in
        size_t lastBreak; // the '<' of its last line break
    };
    std::optional<BreakRun> m_breakRun;
    std::string m_name;
};

} // namespace

void BuildSkeleton(QByteArrayView source, std::string &skeleton, TextSpans &spans)
{
    SkeletonBuilder(source, skeleton, spans).run();
}

uint32_t StandInIndex(const unsigned char *p)
{
    return (decodeFourByte(p) - 0xF0000) * kPerPlane + (decodeFourByte(p + 4) - 0x100000);
}

bool MayHoldStandIns(QByteArrayView source)
{
    const size_t size = size_t(source.size());
    if (size == 0)
        return false;
    if (std::memchr(source.data(), 0xF3, size) || std::memchr(source.data(), 0xF4, size))
        return true;
    const QByteArrayView text = source;
    for (qsizetype at = text.indexOf("&#"); at >= 0; at = text.indexOf("&#", at + 2)) {
        qsizetype i = at + 2;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        if (hex)
            ++i;
        uint64_t value = 0;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                break;
            value = std::min<uint64_t>(value * (hex ? 16 : 10) + uint64_t(digit), 0x7FFFFFFF);
        }
        if (value >= 0xC0000)
            return true;
    }
    return false;
}
