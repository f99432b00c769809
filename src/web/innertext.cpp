// The renderer: an element's text the way a browser's innerText renders it.

#include "web/innertext.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>

namespace {

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
        if (!isHtmlSpace(static_cast<unsigned char>(*p)))
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

} // namespace

const GumboVector *ElementChildren(const GumboNode *node)
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

namespace {

// ---------------------------------------------------------------------------------------------
// The renderer: white space collapsed outside preformatted content, lines begun and ended by
// blocks, required line breaks merged, nothing added at the start or the end.

class TextRenderer
{
public:
    TextRenderer(const char *source, const TextSpans &spans, size_t pageSize)
        : m_source(source), m_spans(spans)
    {
        // Growing the text step by step costs more than the rendering itself on a large
        // record; a page's text is seldom longer than its markup.
        m_out.reserve(qsizetype(pageSize + pageSize / 8 + 64));
    }

    QByteArray render(const GumboNode *root)
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
            const GumboVector *children = ElementChildren(frame.node);
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
            if (!m_out.isEmpty()) {
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
            const void *mark = std::memchr(p + i, kStandInLead, n - i);
            const size_t end = mark ? size_t(static_cast<const char *>(mark) - p) : n;
            run(p + i, end - i);
            if (!mark)
                break;
            if (end + kStandInBytes <= n) {
                const uint32_t index =
                    StandInIndex(reinterpret_cast<const unsigned char *>(p + end));
                if (index < m_spans.size()) {
                    const TextSpan &span = m_spans[index];
                    sourceRun(m_source + span.offset, span.length);
                }
            }
            i = end + kStandInBytes;
        }
    }

    // A run of the page put back for its stand-in. A '<' in it can only begin a <br> tag the
    // run was let through (see BuildSkeleton): a line break.
    void sourceRun(const char *p, size_t n)
    {
        while (const void *mark = std::memchr(p, '<', n)) {
            const size_t at = size_t(static_cast<const char *>(mark) - p);
            run(p, at);
            open(nullptr, Kind::LineBreak);
            const void *close = std::memchr(p + at, '>', n - at);
            if (!close)
                return;
            const size_t after = size_t(static_cast<const char *>(close) - p) + 1;
            p += after;
            n -= after;
        }
        run(p, n);
    }

    void run(const char *p, size_t n)
    {
        if (n == 0)
            return;
        if (m_preDepth > 0) {
            while (n > 0) {
                const void *mark = std::memchr(p, '\n', n);
                const size_t line = mark ? size_t(static_cast<const char *>(mark) - p) : n;
                if (line > 0) {
                    flush();
                    m_out.append(p, qsizetype(line));
                    m_trailingNewlines = 0;
                    m_lineStart = false;
                }
                if (!mark)
                    return;
                flush();
                newline();
                p += line + 1;
                n -= line + 1;
            }
            return;
        }
        size_t i = 0;
        while (i < n) {
            if (isHtmlSpace(static_cast<unsigned char>(p[i]))) {
                if (!m_lineStart)
                    m_pendingSpace = true;
                ++i;
                continue;
            }
            // Words with single spaces between them need no collapsing: they go on the
            // output in one piece.
            size_t end = i + 1;
            for (;;) {
                while (end < n && !isHtmlSpace(static_cast<unsigned char>(p[end])))
                    ++end;
                if (end + 1 < n && p[end] == ' ' &&
                    !isHtmlSpace(static_cast<unsigned char>(p[end + 1]))) {
                    end += 2;
                    continue;
                }
                break;
            }
            flush();
            m_out.append(p + i, qsizetype(end - i));
            m_trailingNewlines = 0;
            m_lineStart = false;
            i = end;
        }
    }

    QByteArray finish()
    {
        if (m_out.size() < m_out.capacity() / 2)
            m_out.squeeze();
        return std::move(m_out);
    }

    const char *m_source;
    const TextSpans &m_spans;
    QByteArray m_out;
    int m_pendingBreaks = 0;
    int m_trailingNewlines = 0;
    int m_preDepth = 0;
    bool m_pendingSpace = false;
    bool m_lineStart = true;
};

} // namespace

QByteArray RenderInnerText(const GumboNode *element, const char *source, size_t sourceSize,
                           const TextSpans &spans)
{
    return TextRenderer(source, spans, sourceSize).render(element);
}
