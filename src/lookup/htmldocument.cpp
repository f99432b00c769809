// Parsing a page with gumbo and rendering an element's text the way a browser's innerText does.

#include "lookup/htmldocument.h"

#include <QDeadlineTimer>

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

// ---------------------------------------------------------------------------------------------
// Arena: every allocation of one parse. Blocks are recycled by size class while the parse runs
// and all go at once with the document, so the tree is never freed node by node (gumbo's own
// release recurses once per nesting level). The allocator is also where the parse is given up:
// past the deadline or the memory limit it jumps back out of the parser.

// Chunks of finished parses, kept for the next one: memory the process has already touched
// costs no page faults. At most kKeep chunks (16 MiB) wait here.
class ChunkPool
{
public:
    static constexpr size_t kChunk = size_t(256) << 10;
    static constexpr size_t kKeep = 64;

    static ChunkPool &instance()
    {
        static ChunkPool pool;
        return pool;
    }

    ~ChunkPool()
    {
        for (char *chunk : m_chunks)
            std::free(chunk);
    }

    char *take()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_chunks.empty()) {
                char *chunk = m_chunks.back();
                m_chunks.pop_back();
                return chunk;
            }
        }
        return static_cast<char *>(std::malloc(kChunk));
    }

    void giveBack(const std::vector<char *> &chunks)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (char *chunk : chunks) {
            if (m_chunks.size() < kKeep)
                m_chunks.push_back(chunk);
            else
                std::free(chunk);
        }
    }

private:
    std::mutex m_mutex;
    std::vector<char *> m_chunks;
};

struct HtmlDocument::Arena
{
    // Size classes: 16-byte steps up to 512 bytes (gumbo's nodes and small vectors), then
    // powers of two up to 32 KiB; larger blocks come from malloc one by one.
    static constexpr int kFineClasses = 32;
    static constexpr int kClasses = kFineClasses + 6;
    static constexpr size_t kLargestSmall = size_t(32) << 10;
    static constexpr size_t kHeader = 16; // keeps 16-byte alignment
    static constexpr size_t kChunk = ChunkPool::kChunk;
    static constexpr uint64_t kBig = 0xFF;

    struct BigBlock
    {
        BigBlock *prev;
        BigBlock *next;
        size_t size;
        size_t pad;
    };

    sigjmp_buf escape;
    QDeadlineTimer deadline;
    qint64 memoryLimit = 0;
    qint64 reserved = 0;
    int countdown = 0;
    bool givenUp = false;

    void *freeLists[kClasses] = {};
    std::vector<char *> chunks;
    char *cursor = nullptr;
    char *chunkEnd = nullptr;
    BigBlock *bigBlocks = nullptr;

    ~Arena()
    {
        ChunkPool::instance().giveBack(chunks);
        while (bigBlocks) {
            BigBlock *next = bigBlocks->next;
            std::free(bigBlocks);
            bigBlocks = next;
        }
    }

    static int classOf(size_t total)
    {
        if (total <= 512)
            return int((total + 15) / 16) - 1;
        return kFineClasses + int(std::bit_width(total - 1)) - 10;
    }

    static size_t blockSize(int sizeClass)
    {
        return sizeClass < kFineClasses ? size_t(sizeClass + 1) * 16
                                        : size_t(1024) << (sizeClass - kFineClasses);
    }

    [[noreturn]] void giveUp()
    {
        givenUp = true;
        siglongjmp(escape, 1);
    }

    void account(size_t bytes)
    {
        reserved += qint64(bytes);
        if (reserved > memoryLimit)
            giveUp();
    }

    void *allocate(size_t size)
    {
        if (--countdown <= 0) {
            countdown = 64;
            if (deadline.hasExpired())
                giveUp();
        }
        const size_t total = size + kHeader;
        if (total > kLargestSmall)
            return allocateBig(size);
        const int sizeClass = classOf(total);
        char *block;
        if (void *recycled = freeLists[sizeClass]) {
            freeLists[sizeClass] = *static_cast<void **>(recycled);
            block = static_cast<char *>(recycled) - kHeader;
        } else {
            const size_t bytes = blockSize(sizeClass);
            if (size_t(chunkEnd - cursor) < bytes) {
                account(kChunk);
                char *chunk = ChunkPool::instance().take();
                if (!chunk)
                    giveUp();
                chunks.push_back(chunk);
                cursor = chunk;
                chunkEnd = chunk + kChunk;
            }
            block = cursor;
            cursor += bytes;
        }
        *reinterpret_cast<uint64_t *>(block) = uint64_t(sizeClass);
        return block + kHeader;
    }

    void *allocateBig(size_t size)
    {
        account(size);
        auto *big = static_cast<BigBlock *>(std::malloc(sizeof(BigBlock) + kHeader + size));
        if (!big)
            giveUp();
        big->prev = nullptr;
        big->next = bigBlocks;
        big->size = size;
        if (bigBlocks)
            bigBlocks->prev = big;
        bigBlocks = big;
        char *header = reinterpret_cast<char *>(big + 1);
        *reinterpret_cast<uint64_t *>(header) = kBig;
        return header + kHeader;
    }

    void release(void *pointer)
    {
        if (!pointer)
            return;
        char *header = static_cast<char *>(pointer) - kHeader;
        const uint64_t sizeClass = *reinterpret_cast<uint64_t *>(header);
        if (sizeClass == kBig) {
            auto *big = reinterpret_cast<BigBlock *>(header) - 1;
            if (big->prev)
                big->prev->next = big->next;
            else
                bigBlocks = big->next;
            if (big->next)
                big->next->prev = big->prev;
            reserved -= qint64(big->size);
            std::free(big);
            return;
        }
        *static_cast<void **>(pointer) = freeLists[sizeClass];
        freeLists[sizeClass] = pointer;
    }

    static void *allocateHook(void *arena, size_t size)
    {
        return static_cast<Arena *>(arena)->allocate(size);
    }
    static void releaseHook(void *arena, void *pointer)
    {
        static_cast<Arena *>(arena)->release(pointer);
    }
};

namespace {

// ---------------------------------------------------------------------------------------------
// Stand-ins for plain text. Most of a whois page is record text, which gumbo tokenizes one
// character at a time. Before parsing, each long run of plain text in ordinary content (no
// '<', '&', CR or NUL in it, beginning with a character that is not white space) is replaced
// by two private-use characters that number it; the renderer puts the run back. Such a run is
// parsed exactly like the stand-in: both are ordinary text that begins with a non-space
// character. Where the scanner cannot be sure it is in ordinary content (inside script,
// RCDATA or raw text, plaintext, foreign content beyond simple SVG) it stops making stand-ins
// for the rest of the page.

constexpr size_t kMinSpan = 16;
constexpr uint32_t kPerPlane = 0xFFFE; // U+xFFFE and U+xFFFF are not characters

bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isAlpha(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAlnum(unsigned char c)
{
    return isAlpha(c) || (c >= '0' && c <= '9');
}

void appendCodePoint(std::string &out, uint32_t cp)
{
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
}

uint32_t decodeFourByte(const unsigned char *p)
{
    return (uint32_t(p[0] & 0x07) << 18) | (uint32_t(p[1] & 0x3F) << 12) |
           (uint32_t(p[2] & 0x3F) << 6) | uint32_t(p[3] & 0x3F);
}

class SkeletonBuilder
{
public:
    SkeletonBuilder(const QByteArray &source, std::string &skeleton,
                    std::vector<HtmlDocument::Span> &spans)
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
            if (c == '<' || c == '&' || c == '\r' || c == 0) {
                closeSpan(spanStart, i);
                spanStart = npos;
                if (c == '<') {
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
            if (spanStart == npos && !isSpace(c))
                spanStart = i;
            ++i;
        }
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

    void copy(size_t from, size_t to)
    {
        if (from < m_copied)
            from = m_copied;
        if (to > from)
            m_out.append(reinterpret_cast<const char *>(m_src + from), to - from);
        m_copied = std::max(m_copied, to);
    }

    void closeSpan(size_t start, size_t end)
    {
        if (start == npos || end - start < kMinSpan ||
            m_spans.size() >= size_t(kPerPlane) * kPerPlane)
            return;
        copy(m_copied, start);
        const uint32_t index = uint32_t(m_spans.size());
        m_spans.push_back({start, end - start});
        appendCodePoint(m_out, 0xF0000 + index / kPerPlane);
        appendCodePoint(m_out, 0x100000 + index % kPerPlane);
        m_copied = end;
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
            if (m_name == "select")
                m_inSelect = false;
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
        if (name == "svg") {
            if (!selfClosing)
                m_svgDepth = 1;
            return end;
        }
        if (name == "math" || name == "plaintext" || name == "frameset")
            return npos;
        if (name == "select")
            m_inSelect = true;
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
    std::vector<HtmlDocument::Span> &m_spans;
    size_t m_copied = 0;
    int m_svgDepth = 0;
    bool m_inSelect = false;
    std::string m_name;
};

// ---------------------------------------------------------------------------------------------
// How each HTML element takes part in the rendered text.

enum class Kind : unsigned char
{
    Inline,
    Block,         // begins and ends a line
    Paragraph,     // begins and ends a line with a blank line around it
    Hidden,        // left out with everything inside
    LineBreak,     // br
    Cell,          // td, th: separated from the next cell of the row by a tab
    Preformatted,  // block whose white space is kept
    PreformInline, // textarea: white space kept
};

const std::array<Kind, GUMBO_TAG_LAST + 1> &kindTable()
{
    static const auto table = [] {
        std::array<Kind, GUMBO_TAG_LAST + 1> t;
        t.fill(Kind::Inline);
        for (GumboTag tag :
             {GUMBO_TAG_HTML,   GUMBO_TAG_BODY,       GUMBO_TAG_ARTICLE,  GUMBO_TAG_SECTION,
              GUMBO_TAG_NAV,    GUMBO_TAG_ASIDE,      GUMBO_TAG_H1,       GUMBO_TAG_H2,
              GUMBO_TAG_H3,     GUMBO_TAG_H4,         GUMBO_TAG_H5,       GUMBO_TAG_H6,
              GUMBO_TAG_HGROUP, GUMBO_TAG_HEADER,     GUMBO_TAG_FOOTER,   GUMBO_TAG_ADDRESS,
              GUMBO_TAG_HR,     GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_OL,       GUMBO_TAG_UL,
              GUMBO_TAG_LI,     GUMBO_TAG_DL,         GUMBO_TAG_DT,       GUMBO_TAG_DD,
              GUMBO_TAG_FIGURE, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_MAIN,     GUMBO_TAG_DIV,
              GUMBO_TAG_TABLE,  GUMBO_TAG_CAPTION,    GUMBO_TAG_TBODY,    GUMBO_TAG_THEAD,
              GUMBO_TAG_TFOOT,  GUMBO_TAG_TR,         GUMBO_TAG_FORM,     GUMBO_TAG_FIELDSET,
              GUMBO_TAG_LEGEND, GUMBO_TAG_DETAILS,    GUMBO_TAG_SUMMARY,  GUMBO_TAG_MENU,
              GUMBO_TAG_DIR,    GUMBO_TAG_CENTER,     GUMBO_TAG_FRAMESET, GUMBO_TAG_OPTGROUP,
              GUMBO_TAG_OPTION})
            t[tag] = Kind::Block;
        t[GUMBO_TAG_P] = Kind::Paragraph;
        for (GumboTag tag :
             {GUMBO_TAG_HEAD,     GUMBO_TAG_TITLE,    GUMBO_TAG_BASE,     GUMBO_TAG_LINK,
              GUMBO_TAG_META,     GUMBO_TAG_STYLE,    GUMBO_TAG_SCRIPT,   GUMBO_TAG_NOSCRIPT,
              GUMBO_TAG_TEMPLATE, GUMBO_TAG_PARAM,    GUMBO_TAG_SOURCE,   GUMBO_TAG_TRACK,
              GUMBO_TAG_AREA,     GUMBO_TAG_DATALIST, GUMBO_TAG_RP,       GUMBO_TAG_IFRAME,
              GUMBO_TAG_EMBED,    GUMBO_TAG_OBJECT,   GUMBO_TAG_VIDEO,    GUMBO_TAG_AUDIO,
              GUMBO_TAG_CANVAS,   GUMBO_TAG_NOEMBED,  GUMBO_TAG_NOFRAMES, GUMBO_TAG_FRAME,
              GUMBO_TAG_APPLET,   GUMBO_TAG_COLGROUP, GUMBO_TAG_COL,      GUMBO_TAG_BGSOUND})
            t[tag] = Kind::Hidden;
        t[GUMBO_TAG_BR] = Kind::LineBreak;
        t[GUMBO_TAG_TD] = Kind::Cell;
        t[GUMBO_TAG_TH] = Kind::Cell;
        for (GumboTag tag : {GUMBO_TAG_PRE, GUMBO_TAG_LISTING, GUMBO_TAG_XMP, GUMBO_TAG_PLAINTEXT})
            t[tag] = Kind::Preformatted;
        t[GUMBO_TAG_TEXTAREA] = Kind::PreformInline;
        return t;
    }();
    return table;
}

bool hasDisplayNone(const GumboElement &element)
{
    const GumboAttribute *style = gumbo_get_attribute(&element.attributes, "style");
    if (!style)
        return false;
    std::string compact;
    for (const char *p = style->value; *p; ++p) {
        if (!isSpace(static_cast<unsigned char>(*p)))
            compact.push_back(char(std::tolower(static_cast<unsigned char>(*p))));
    }
    return compact.find("display:none") != std::string::npos;
}

Kind kindOf(const GumboNode *node)
{
    const GumboElement &element = node->v.element;
    if (gumbo_get_attribute(&element.attributes, "hidden"))
        return Kind::Hidden;
    if (element.tag_namespace != GUMBO_NAMESPACE_HTML) {
        switch (element.tag) {
        case GUMBO_TAG_STYLE:
        case GUMBO_TAG_SCRIPT:
        case GUMBO_TAG_TITLE:
        case GUMBO_TAG_DESC:
            return Kind::Hidden;
        default:
            return Kind::Inline;
        }
    }
    if (element.tag == GUMBO_TAG_INPUT || element.attributes.length == 0)
        return kindTable()[element.tag];
    if (hasDisplayNone(element))
        return Kind::Hidden;
    return kindTable()[element.tag];
}

bool isCell(const GumboNode *node)
{
    return node->type == GUMBO_NODE_ELEMENT &&
           node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML &&
           (node->v.element.tag == GUMBO_TAG_TD || node->v.element.tag == GUMBO_TAG_TH);
}

bool hasLaterCell(const GumboNode *cell)
{
    const GumboNode *parent = cell->parent;
    if (!parent || (parent->type != GUMBO_NODE_ELEMENT && parent->type != GUMBO_NODE_TEMPLATE))
        return false;
    const GumboVector &siblings = parent->v.element.children;
    for (unsigned i = unsigned(cell->index_within_parent) + 1; i < siblings.length; ++i) {
        if (isCell(static_cast<const GumboNode *>(siblings.data[i])))
            return true;
    }
    return false;
}

const GumboVector *childrenOf(const GumboNode *node)
{
    switch (node->type) {
    case GUMBO_NODE_DOCUMENT:
        return &node->v.document.children;
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE:
        return &node->v.element.children;
    default:
        return nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// The renderer: white space collapsed outside preformatted content, lines begun and ended by
// blocks, required line breaks merged, nothing added at the start or the end.

class TextRenderer
{
public:
    TextRenderer(const QByteArray &source, const std::vector<HtmlDocument::Span> &spans)
        : m_source(source.constData()), m_spans(spans)
    {
    }

    QString render(const GumboNode *root)
    {
        struct Frame
        {
            const GumboNode *node;
            unsigned next;
            Kind kind;
        };
        std::vector<Frame> stack;
        if (root->type == GUMBO_NODE_ELEMENT || root->type == GUMBO_NODE_TEMPLATE) {
            Kind kind = kindOf(root);
            if (kind == Kind::Hidden)
                kind = Kind::Inline; // the element asked for is rendered even when hidden
            open(root, kind);
            stack.push_back({root, 0, kind});
        } else if (root->type == GUMBO_NODE_DOCUMENT) {
            stack.push_back({root, 0, Kind::Inline});
        } else {
            text(root);
            return finish();
        }
        while (!stack.empty()) {
            Frame &frame = stack.back();
            const GumboVector *children = childrenOf(frame.node);
            if (!children || frame.next >= children->length) {
                close(frame.node, frame.kind);
                stack.pop_back();
                continue;
            }
            const auto *child = static_cast<const GumboNode *>(children->data[frame.next++]);
            switch (child->type) {
            case GUMBO_NODE_ELEMENT: {
                const Kind kind = kindOf(child);
                if (kind == Kind::Hidden)
                    break;
                open(child, kind);
                if (kind != Kind::LineBreak)
                    stack.push_back({child, 0, kind});
                break;
            }
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_CDATA:
            case GUMBO_NODE_WHITESPACE:
                text(child);
                break;
            default: // comments, template contents
                break;
            }
        }
        return finish();
    }

private:
    void open(const GumboNode *, Kind kind)
    {
        switch (kind) {
        case Kind::Block:
            requireBreaks(1);
            break;
        case Kind::Paragraph:
            requireBreaks(2);
            break;
        case Kind::Preformatted:
            requireBreaks(1);
            ++m_preDepth;
            break;
        case Kind::PreformInline:
            ++m_preDepth;
            break;
        case Kind::LineBreak:
            m_pendingSpace = false;
            flush();
            newline();
            break;
        case Kind::Cell:
            m_pendingSpace = false;
            m_lineStart = true;
            break;
        default:
            break;
        }
    }

    void close(const GumboNode *node, Kind kind)
    {
        switch (kind) {
        case Kind::Block:
            requireBreaks(1);
            break;
        case Kind::Paragraph:
            requireBreaks(2);
            break;
        case Kind::Preformatted:
            --m_preDepth;
            requireBreaks(1);
            break;
        case Kind::PreformInline:
            --m_preDepth;
            break;
        case Kind::Cell:
            if (hasLaterCell(node)) {
                m_pendingSpace = false;
                flush();
                m_out.push_back('\t');
                m_trailingNewlines = 0;
                m_lineStart = true;
            } else {
                m_pendingSpace = false;
                m_lineStart = true;
            }
            break;
        default:
            break;
        }
    }

    void requireBreaks(int count)
    {
        m_pendingSpace = false;
        m_lineStart = true;
        m_pendingBreaks = std::max(m_pendingBreaks, count);
    }

    // Before content: the required line breaks not yet on the output (none at its start),
    // then a collapsed space.
    void flush()
    {
        if (m_pendingBreaks > 0) {
            if (!m_out.empty()) {
                for (int k = m_trailingNewlines; k < m_pendingBreaks; ++k)
                    m_out.append("\r\n", 2);
                m_trailingNewlines = std::max(m_trailingNewlines, m_pendingBreaks);
            }
            m_pendingBreaks = 0;
        }
        if (m_pendingSpace) {
            m_out.push_back(' ');
            m_pendingSpace = false;
            m_trailingNewlines = 0;
        }
    }

    void newline()
    {
        m_out.append("\r\n", 2);
        ++m_trailingNewlines;
        m_lineStart = true;
    }

    void text(const GumboNode *node)
    {
        const char *p = node->v.text.text;
        const size_t n = std::strlen(p);
        if (m_spans.empty()) {
            run(p, n);
            return;
        }
        size_t i = 0;
        while (i < n) {
            // A stand-in is the only four-byte sequence with lead byte F3 in the parsed text.
            const void *mark = std::memchr(p + i, 0xF3, n - i);
            const size_t end = mark ? size_t(static_cast<const char *>(mark) - p) : n;
            run(p + i, end - i);
            if (!mark)
                break;
            if (end + 8 <= n) {
                const auto *u = reinterpret_cast<const unsigned char *>(p + end);
                const uint32_t index =
                    (decodeFourByte(u) - 0xF0000) * kPerPlane + (decodeFourByte(u + 4) - 0x100000);
                if (index < m_spans.size()) {
                    const HtmlDocument::Span &span = m_spans[index];
                    run(m_source + span.offset, span.length);
                }
            }
            i = end + 8;
        }
    }

    void run(const char *p, size_t n)
    {
        if (n == 0)
            return;
        if (m_preDepth > 0) {
            size_t start = 0;
            for (size_t i = 0; i < n; ++i) {
                if (p[i] == '\n') {
                    if (i > start) {
                        flush();
                        m_out.append(p + start, i - start);
                        m_trailingNewlines = 0;
                    }
                    flush();
                    newline();
                    start = i + 1;
                }
            }
            if (n > start) {
                flush();
                m_out.append(p + start, n - start);
                m_trailingNewlines = 0;
                m_lineStart = false;
            }
            return;
        }
        size_t i = 0;
        while (i < n) {
            if (isSpace(static_cast<unsigned char>(p[i]))) {
                if (!m_lineStart)
                    m_pendingSpace = true;
                ++i;
                continue;
            }
            size_t end = i + 1;
            while (end < n && !isSpace(static_cast<unsigned char>(p[end])))
                ++end;
            flush();
            m_out.append(p + i, end - i);
            m_trailingNewlines = 0;
            m_lineStart = false;
            i = end;
        }
    }

    QString finish() { return QString::fromUtf8(m_out.data(), qsizetype(m_out.size())); }

    const char *m_source;
    const std::vector<HtmlDocument::Span> &m_spans;
    std::string m_out;
    int m_pendingBreaks = 0;
    int m_trailingNewlines = 0;
    int m_preDepth = 0;
    bool m_pendingSpace = false;
    bool m_lineStart = true;
};

// The stand-ins are characters of planes 15 and 16 (lead bytes F3 and F4); planes 12 to 14
// share the lead byte F3, which the renderer looks for. A page that holds characters with
// these lead bytes itself, or character references to them, is parsed as it is.
bool mayHoldStandIns(const QByteArray &source)
{
    if (source.contains(char(0xF3)) || source.contains(char(0xF4)))
        return true;
    const QByteArrayView text(source);
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

} // namespace

namespace {

// The parser is built with its assertions on, and some malformed pages trip one (for example
// "<table><svg><foreignObject><![CDATA[ ]]><"). An assertion ends in abort(); while a page is
// parsed, SIGABRT on the parsing thread jumps back out of the parser instead, and the page
// counts as one that could not be parsed. SIGABRT on any other thread goes to the handler that
// was there before.
thread_local sigjmp_buf *t_parseEscape = nullptr;
std::mutex g_abortGuardMutex;
int g_abortGuardUsers = 0;
struct sigaction g_previousAbortAction;

extern "C" void onAbortDuringParse(int signal)
{
    if (sigjmp_buf *escape = t_parseEscape) {
        t_parseEscape = nullptr;
        siglongjmp(*escape, 2);
    }
    sigaction(SIGABRT, &g_previousAbortAction, nullptr);
    raise(signal);
}

class AbortGuard
{
public:
    AbortGuard()
    {
        const std::lock_guard<std::mutex> lock(g_abortGuardMutex);
        if (g_abortGuardUsers++ == 0) {
            struct sigaction action = {};
            action.sa_handler = &onAbortDuringParse;
            sigemptyset(&action.sa_mask);
            sigaction(SIGABRT, &action, &g_previousAbortAction);
        }
    }
    ~AbortGuard()
    {
        const std::lock_guard<std::mutex> lock(g_abortGuardMutex);
        if (--g_abortGuardUsers == 0)
            sigaction(SIGABRT, &g_previousAbortAction, nullptr);
    }
    AbortGuard(const AbortGuard &) = delete;
    AbortGuard &operator=(const AbortGuard &) = delete;
};

} // namespace

// Runs the parser with a way back out: the arena jumps here when a limit is reached, and the
// abort guard when the parser fails an assertion. The parser's allocations stay in the arena,
// which goes with the document.
GumboOutput *HtmlDocument::parseGuarded(Arena &arena, const GumboOptions &options,
                                        const char *input, size_t length)
{
    const AbortGuard guard;
    GumboOutput *volatile output = nullptr;
    // The signal mask is saved: SIGABRT is blocked while its handler runs and must be
    // unblocked again after the jump.
    if (sigsetjmp(arena.escape, 1) == 0) {
        t_parseEscape = &arena.escape;
        output = gumbo_parse_with_options(&options, input, length);
    } else {
        arena.givenUp = true;
    }
    t_parseEscape = nullptr;
    return output;
}

HtmlDocument::HtmlDocument(const QString &html, const ParseLimits &limits, bool allowStandIns)
    : m_arena(std::make_unique<Arena>()), m_source(html.toUtf8())
{
    std::string skeleton;
    const bool standIns = allowStandIns && !mayHoldStandIns(m_source);
    if (standIns)
        SkeletonBuilder(m_source, skeleton, m_spans).run();

    Arena &arena = *m_arena;
    arena.deadline = QDeadlineTimer(limits.timeLimitMs);
    arena.memoryLimit = limits.memoryLimitBytes;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Arena::allocateHook;
    options.deallocator = &Arena::releaseHook;
    options.userdata = &arena;
    options.max_errors = 0; // parse errors are of no use here; recording them costs time
    const char *input = standIns ? skeleton.data() : m_source.constData();
    const size_t length = standIns ? skeleton.size() : size_t(m_source.size());

    GumboOutput *output = parseGuarded(arena, options, input, length);
    if (output && !arena.givenUp)
        m_root = output->document;
}

HtmlDocument::~HtmlDocument() = default;

// The first element in document order that the test accepts. Iterative, so deeply nested
// markup cannot exhaust the stack.
template <class Test> const GumboNode *firstElement(const GumboNode *root, Test accepts)
{
    if (!root)
        return nullptr;
    std::vector<std::pair<const GumboNode *, unsigned>> stack{{root, 0}};
    while (!stack.empty()) {
        auto &[node, next] = stack.back();
        const GumboVector *children = childrenOf(node);
        if (!children || next >= children->length) {
            stack.pop_back();
            continue;
        }
        const auto *child = static_cast<const GumboNode *>(children->data[next++]);
        if (child->type != GUMBO_NODE_ELEMENT)
            continue; // template contents are not part of the document
        if (accepts(child))
            return child;
        stack.push_back({child, 0});
    }
    return nullptr;
}

const GumboNode *HtmlDocument::firstElementByTagName(const char *tagName) const
{
    const GumboTag wanted = gumbo_tag_enum(tagName);
    return firstElement(m_root, [wanted](const GumboNode *element) {
        return element->v.element.tag == wanted &&
               element->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
    });
}

const GumboNode *HtmlDocument::elementById(const QString &id) const
{
    if (id.isEmpty())
        return nullptr;
    const QByteArray wanted = id.toUtf8();
    return firstElement(m_root, [&wanted](const GumboNode *element) {
        const GumboAttribute *attribute = gumbo_get_attribute(&element->v.element.attributes, "id");
        return attribute && wanted == attribute->value;
    });
}

const GumboNode *HtmlDocument::body() const
{
    return firstElementByTagName("body");
}

QString HtmlDocument::innerText(const GumboNode *element) const
{
    if (!element)
        return {};
    return TextRenderer(m_source, m_spans).render(element);
}
