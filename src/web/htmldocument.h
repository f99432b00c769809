#pragma once

#include "web/pagetext.h"
#include "web/textruns.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct GumboInternalNode;
using GumboNode = GumboInternalNode;
class ParseArena;

// One parsed page. Parsing runs within time and memory limits (a page that exceeds them is not
// parsed); the tree lives in an arena that goes with the document in one piece, so neither
// deep nesting nor an abandoned parse leaves anything behind.
class HtmlDocument
{
public:
    // The page as UTF-8 (as DecodePageUtf8 hands it over). With standIns false every character
    // goes through the parser (the reference the faster way is checked against).
    explicit HtmlDocument(QByteArray utf8, const ParseLimits &limits = {}, bool standIns = true);
    explicit HtmlDocument(const QString &html, const ParseLimits &limits = {},
                          bool standIns = true);
    ~HtmlDocument();
    HtmlDocument(const HtmlDocument &) = delete;
    HtmlDocument &operator=(const HtmlDocument &) = delete;

    // False when the parse was given up at a limit.
    bool isParsed() const { return m_root != nullptr; }

    // The first element with the tag name (lower case, HTML elements only) in document order.
    const GumboNode *firstElementByTagName(const char *tagName) const;
    // The first element in document order whose id is exactly the given text.
    const GumboNode *elementById(const QString &id) const;
    const GumboNode *body() const;

    // The element's text as a browser's innerText renders it, lines joined by CR LF; empty for
    // no element.
    QByteArray innerTextUtf8(const GumboNode *element) const;
    QString innerText(const GumboNode *element) const;

private:
    // The page as UTF-8, and the runs of plain text the parser saw only as stand-ins.
    QByteArray m_source;
    TextSpans m_spans;
    std::unique_ptr<ParseArena> m_arena;
    const GumboNode *m_root = nullptr;
};
