// Parsing a page, finding each site's record element and rendering its text. The quick parse
// (plain-text runs given to the parser as stand-ins) must render exactly what the reference
// parse (every character through the parser) renders; so must a parse under a small memory
// limit whenever it completes.

#include "fuzzcheck.h"
#include "web/htmldocument.h"
#include "web/pagetext.h"
#include "web/sites.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

// The text of every element the program looks up: the record element of each site and the
// body.
std::array<QString, 4> lookups(const HtmlDocument &document)
{
    return {
        document.innerText(document.firstElementByTagName("pre")),
        document.innerText(document.elementById(Sites::recordElementId(Site::Option2))),
        document.innerText(document.elementById(Sites::recordElementId(Site::Option3))),
        document.innerText(document.body()),
    };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString html = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const HtmlDocument reference(html, {}, false);
    const HtmlDocument quick(html);
    // A page the parser fails an assertion on counts as one that could not be parsed; nothing
    // to compare then.
    if (!reference.isParsed() || !quick.isParsed())
        return 0;
    const std::array<QString, 4> expected = lookups(reference);
    const std::array<QString, 4> actual = lookups(quick);
    for (size_t i = 0; i < expected.size(); ++i)
        FUZZ_CHECK_EQUAL(actual[i], expected[i]);

    // The site adapters: one site per input, chosen by its length.
    const Site site = Site(1 + size % 3);
    const std::optional<QString> record = TryRecordText(html, site);
    if (record)
        FUZZ_CHECK_EQUAL(*record, expected[size_t(site) - 1]);

    // A parse given up at the memory limit leaves nothing behind; one that completes renders
    // the same text.
    ParseLimits tight;
    tight.memoryLimitBytes = qint64(256 * 1024) + qint64((size * 2654435761u) % (1024 * 1024));
    const HtmlDocument limited(html, tight);
    if (limited.isParsed()) {
        const std::array<QString, 4> limitedText = lookups(limited);
        for (size_t i = 0; i < expected.size(); ++i)
            FUZZ_CHECK_EQUAL(limitedText[i], expected[i]);
    }
    return 0;
}
