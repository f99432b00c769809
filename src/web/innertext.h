#pragma once

#include "web/textruns.h"

#include <QByteArray>

#include <gumbo.h>

// The element's text as a browser's innerText renders it, as UTF-8, lines joined by CR LF.
// Stand-ins in the parsed text are replaced by their runs of `source`, the page.
QByteArray RenderInnerText(const GumboNode *element, const char *source, size_t sourceSize,
                           const TextSpans &spans);

// The children of a document, element or template node; null for other nodes.
const GumboVector *ElementChildren(const GumboNode *node);
