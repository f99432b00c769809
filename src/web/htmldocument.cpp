// One parsed page: the parse under its limits, the element look-ups, the rendered text.

#include "web/htmldocument.h"

#include "web/innertext.h"
#include "web/parsearena.h"
#include "web/parseguard.h"

#include "text/recordfield.h"

#include <gumbo.h>

#include <string>
#include <utility>

HtmlDocument::HtmlDocument(QByteArray utf8, const ParseLimits &limits, bool allowStandIns)
    : m_source(std::move(utf8))
{
    std::string skeleton;
    const bool standIns = allowStandIns && !MayHoldStandIns(m_source);
    if (standIns)
        BuildSkeleton(m_source, skeleton, m_spans);

    m_arena =
        std::make_unique<ParseArena>(QDeadlineTimer(limits.timeLimitMs), limits.memoryLimitBytes);
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &ParseArena::allocateHook;
    options.deallocator = &ParseArena::releaseHook;
    options.userdata = m_arena.get();
    options.max_errors = 0; // parse errors are of no use here; recording them costs time
    const char *input = standIns ? skeleton.data() : m_source.constData();
    const size_t length = standIns ? skeleton.size() : size_t(m_source.size());

    GumboOutput *output = ParseGuarded(*m_arena, options, input, length);
    if (output && !m_arena->givenUp)
        m_root = output->document;
}

HtmlDocument::HtmlDocument(const QString &html, const ParseLimits &limits, bool standIns)
    : HtmlDocument(html.toUtf8(), limits, standIns)
{
}

HtmlDocument::~HtmlDocument() = default;

namespace {

// The first element in document order that the test accepts. Iterative, so deeply nested
// markup cannot exhaust the stack.
template <class Test> const GumboNode *firstElement(const GumboNode *root, Test accepts)
{
    if (!root)
        return nullptr;
    std::vector<std::pair<const GumboNode *, unsigned>> stack{{root, 0}};
    while (!stack.empty()) {
        auto &[node, next] = stack.back();
        const GumboVector *children = ElementChildren(node);
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

} // namespace

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

QByteArray HtmlDocument::innerTextUtf8(const GumboNode *element) const
{
    if (!element)
        return {};
    QByteArray text =
        RenderInnerText(element, m_source.constData(), size_t(m_source.size()), m_spans);
    // A leading U+FEFF is dropped, as reading the text as UTF-8 always has.
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    return text;
}

QString HtmlDocument::innerText(const GumboNode *element) const
{
    return textFromUtf8(innerTextUtf8(element));
}
