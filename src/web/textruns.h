#pragma once

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Stand-ins for plain text. Most of a whois page is record text, which gumbo tokenizes one
// character at a time. Before parsing, each long run of plain text in ordinary content (no
// '<', '&', CR or NUL in it, beginning with a character that is not white space) is replaced
// by two private-use characters that number it; the renderer puts the run back. Such a run is
// parsed exactly like the stand-in: both are ordinary text that begins with a non-space
// character. A <br> between two parts of a run may stay in it where the parser could only make
// a line break of it; the renderer breaks the line at its '<' (but where the text pending at a
// </form> would hold the run's breaks, the run ends at its last one). Where the scanner cannot be
// sure it is in ordinary content (inside script, RCDATA or raw text, plaintext, foreign content
// beyond simple SVG) it stops making stand-ins for the rest of the page.

// A run of plain text of the page, by its place in the page's bytes.
struct TextSpan
{
    size_t offset;
    size_t length;
};
using TextSpans = std::vector<TextSpan>;

// Stand-ins are numbered with two characters, one of plane 15 and one of plane 16, each of
// kStandInsPerPlane values (U+xFFFE and U+xFFFF are not characters).
constexpr uint32_t kStandInsPerPlane = 0xFFFE;
// The UTF-8 length of one stand-in; its lead byte is F3.
constexpr size_t kStandInBytes = 8;
constexpr unsigned char kStandInLead = 0xF3;

// The page with its long plain-text runs replaced by stand-ins, and the runs in order.
void BuildSkeleton(QByteArrayView source, std::string &skeleton, TextSpans &spans);

// The number a stand-in's eight bytes carry.
uint32_t StandInIndex(const unsigned char *p);

// The stand-ins are characters of planes 15 and 16 (lead bytes F3 and F4); planes 12 to 14
// share the lead byte F3, which the renderer looks for. A page that holds characters with
// these lead bytes itself, or character references to them, is parsed as it is.
bool MayHoldStandIns(QByteArrayView source);

inline bool isHtmlSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
