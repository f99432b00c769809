// Telling a whois answer's notice text from its message and record: the answer is cut into
// paragraphs (at empty lines and where comment lines start or stop); a paragraph is notice text
// when it opens the way notices open, or when it is mostly sentences. A few kinds of line are
// notice text wherever they stand.
#include "facts/notices.h"

#include "facts/labeltable.h"
#include "text/asciicase.h"
#include "text/findchar.h"
#include "text/textcache.h"

#include <array>
#include <bit>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// How notice paragraphs open: compared with the start of the paragraph's first line (lower
// case, after comment marks and frames).
constexpr std::string_view noticeOpenings[] = {
    "notice",
    "terms of use",
    "terms and conditions",
    "terms & conditions",
    "disclaimer",
    "legal notice",
    "legal disclaimer",
    "copyright",
    "(c)",
    "all rights reserved",
    "rights restricted",
    "restricted rights",
    "the data in",
    "the data contained",
    "the data provided",
    "the information",
    "this information",
    "information related to",
    "the whois",
    "this whois",
    "whois lookup made",
    "whois server version",
    "whois database",
    "access to",
    "by submitting",
    "by querying",
    "by using",
    "by accessing",
    "by executing",
    "you agree",
    "you are not authorized",
    "you may not",
    "use of this",
    "any use of",
    "please note",
    "important",
    ">>>",
    "for more information",
    "more information",
    "url of the icann",
    "the registry database contains",
    "domain names in the",
    "to single out one record",
    "the previous information",
    "this is the",
    "welcome to",
};

// The first characters of the openings, one bit each: a paragraph that opens with none of them
// is compared with none.
constexpr auto openingFirsts = [] {
    std::array<bool, 128> firsts{};
    for (const std::string_view opening : noticeOpenings)
        firsts[static_cast<unsigned char>(opening.front())] = true;
    return firsts;
}();

bool opensAsNotice(QStringView line)
{
    const char16_t first = line.isEmpty() ? u'\0' : asciiLower(line.front().unicode());
    if (first >= 128 || !openingFirsts[first])
        return false;
    for (const std::string_view opening : noticeOpenings) {
        if (char16_t(opening.front()) == first && startsWithCaseless(line, opening))
            return true;
    }
    return false;
}

// Labels whose line is notice text wherever it stands (normalised as labelTable normalises).
// Their sizes are known at compile time, so a label of another size is passed by at once.
constexpr QLatin1String noticeLabels[] = {
    QLatin1String("notice"),
    QLatin1String("terms of use"),
    QLatin1String("terms and conditions"),
    QLatin1String("disclaimer"),
    QLatin1String("legal disclaimer"),
    QLatin1String("legal notice"),
    QLatin1String("note"),
    QLatin1String("please note"),
    QLatin1String("important"),
    QLatin1String("attention"),
    QLatin1String("url of the icann whois inaccuracy complaint form"),
    QLatin1String("url of the icann whois data problem reporting system"),
    QLatin1String("url of the icann rdds inaccuracy complaint form"),
    QLatin1String("icann whois data problem reporting system"),
    QLatin1String("for further data see"),
    QLatin1String("for further information see"),
    QLatin1String("for more information see"),
    QLatin1String("tovabbi adatokert ld"),
};

// A label of this many words or more is a sentence cut at a colon.
constexpr int SentenceLabelWords = 6;
// A line of this many words or more that carries no fact label reads as a sentence.
constexpr int ProseWords = 6;
// A paragraph is notice text when most of its lines are sentences and they are this many, or
// hold this many words: a message of its own is a line or two.
constexpr int NoticeProseLines = 3;
constexpr int NoticeProseWords = 40;
// A label with this many digits before a colon that follows a digit is a date cut at its time.
constexpr int DateDigits = 6;

// "Record created on 2001-02-03 10:11:12": the first colon is the time's.
bool isTimesColon(QStringView label)
{
    if (label.isEmpty() || !label.back().isDigit())
        return false;
    int digits = 0;
    for (QChar c : label)
        digits += c.isDigit() ? 1 : 0;
    return digits >= DateDigits;
}

#ifdef __SSE2__
// The bits set in each byte (the processor's own count is not in x86-64's base set: std::popcount
// would call a library function).
constexpr auto bitsSet = [] {
    std::array<unsigned char, 256> counts{};
    for (unsigned i = 0; i < 256; ++i)
        counts[i] = static_cast<unsigned char>(std::popcount(i));
    return counts;
}();
#endif

// Counted up to `enough`: a paragraph's prose is weighed against NoticeProseWords at most, so
// the words of a long sentence beyond that change nothing. Eight ASCII characters at a time
// (every line of an answer is counted); from a character beyond ASCII on, one by one.
int wordCount(QStringView s, int enough = NoticeProseWords)
{
    int words = 0;
    bool inWord = false;
    const char16_t *p = s.utf16();
    const char16_t *const end = p + s.size();
#ifdef __SSE2__
    const __m128i beyondAscii = _mm_set1_epi16(short(0xff80));
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 8; p += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(chunk, beyondAscii), zero)) != 0xffff)
            break;
        const __m128i blank =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(chunk, _mm_set1_epi16(' ')),
                                      _mm_cmpeq_epi16(chunk, _mm_set1_epi16('\t'))),
                         _mm_cmpeq_epi16(chunk, _mm_set1_epi16('\r')));
        // One bit a character: set where it is part of a word.
        const unsigned inside = ~unsigned(_mm_movemask_epi8(_mm_packs_epi16(blank, zero))) & 0xffu;
        words += bitsSet[inside & ~((inside << 1) | unsigned(inWord)) & 0xffu];
        if (words >= enough)
            return enough;
        inWord = (inside & 0x80u) != 0;
    }
#endif
    for (; p < end; ++p) {
        const char16_t u = *p;
        // Most characters are printable ASCII, none of them blank.
        const bool blank = (u <= ' ' || u >= 0xa0) && isRecordBlank(QChar(u));
        if (!blank && !inWord && ++words >= enough)
            break;
        inWord = !blank;
    }
    return words;
}

// The words of a label, a closing note in parentheses left out ("Company Name (as
// registered ...)").
int labelWords(QStringView label)
{
    const qsizetype open = label.endsWith(u')') ? label.lastIndexOf(u'(') : -1;
    return wordCount(open > 0 ? label.left(open) : label);
}

// Only rules ("-----", "=====", "*****") or nothing.
bool isRule(QStringView body)
{
    for (QChar c : body) {
        const char16_t u = c.unicode();
        if (u != '-' && u != '=' && u != '*' && u != '_' && u != '+' && !isRecordBlank(c))
            return false;
    }
    return true;
}

// What a line's label says of the line: notice text wherever it stands, or a fact's label.
struct LabelKind
{
    bool forced = false;
    bool factLabel = false;
};

LabelKind readLabel(QStringView label)
{
    LabelKind kind;
    const QString key = normalisedLabel(label);
    for (const QLatin1String notice : noticeLabels) {
        if (key == notice) {
            kind.forced = true;
            return kind;
        }
    }
    kind.factLabel = labelMeaning(key).field != Field::None || networkLabelMeaning(key).has_value();
    kind.forced = !kind.factLabel && labelWords(label) >= SentenceLabelWords;
    return kind;
}

// The labels of a server's answers come again in every answer: what each says is kept as it
// was written, so that a repeated label is one hash look-up rather than its normalising and
// two table look-ups.
LabelKind labelKind(QStringView label)
{
    thread_local TextCache<LabelKind> known;
    if (const LabelKind *kind = known.find(label))
        return *kind;
    return known.keep(label, readLabel(label));
}

struct Line
{
    QStringView body;     // without comment marks, frames and end blanks; empty: a separator
    bool comment = false; // a '%' or '#' line
    bool forced = false;  // notice text wherever it stands
    bool prose = false;   // reads as a sentence
    int words = 0;
    bool factLabel = false; // carries a label of the fact tables
};

Line readLine(QStringView raw)
{
    Line line;
    QStringView body = trimmedRecordText(raw);
    if (!body.isEmpty() && (body.front() == u'%' || body.front() == u'#')) {
        line.comment = true;
        while (!body.isEmpty() && (body.front() == u'%' || body.front() == u'#'))
            body = body.mid(1);
        body = trimmedRecordText(body);
    }
    // Framed boxes: "* Please note that ... *".
    if (body.startsWith(u'*') && !body.startsWith(u"**")) {
        body = trimmedRecordText(body.mid(1));
        while (body.endsWith(u'*'))
            body.chop(1);
        body = trimmedRecordText(body);
    }
    if (isRule(body))
        return line;
    line.body = body;
    if ((body.startsWith(u'>') || body.startsWith(u'<')) &&
        (body.startsWith(u">>>") || body.startsWith(u"<<<"))) {
        // The database's time stamp: notice text, though no sentence.
        line.forced = true;
        line.words = wordCount(body);
        return line;
    }
    {
        // The colon that cuts the line into a field, wherever it stands.
        const qsizetype colon = findAnyOf<u':', u'\uff1a'>(body);
        if (colon > 0 && colonIsUrls(body, colon)) {
            line.forced = true;
        } else if (colon > 0) {
            const QStringView label = trimmedRecordText(body.left(colon));
            if (isTimesColon(label)) {
                line.forced = true;
                line.words = wordCount(body);
                return line;
            }
            const LabelKind kind = labelKind(label);
            line.forced = kind.forced;
            line.factLabel = kind.factLabel;
        }
    }
    // The words count only for a line that may be prose: a fact's line never is.
    if (!line.factLabel)
        line.words = wordCount(body);
    line.prose = line.forced || (!line.factLabel && line.words >= ProseWords);
    return line;
}

} // namespace

bool colonIsUrls(QStringView line, qsizetype colon)
{
    if (line.size() < colon + 3 || line[colon + 1] != u'/' || line[colon + 2] != u'/')
        return false;
    const QStringView before = line.left(colon);
    return before.endsWith(QLatin1String("http"), Qt::CaseInsensitive) ||
           before.endsWith(QLatin1String("https"), Qt::CaseInsensitive) ||
           before.endsWith(QLatin1String("ftp"), Qt::CaseInsensitive);
}

std::vector<bool> noticeLines(QStringView text)
{
    std::vector<QStringView> lines;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        lines.push_back(text.mid(start, end - start));
        start = end + 1;
    }
    return noticeLines(lines);
}

std::vector<bool> noticeLines(std::span<const QStringView> rawLines)
{
    std::vector<Line> lines;
    lines.reserve(rawLines.size());
    for (QStringView raw : rawLines)
        lines.push_back(readLine(raw));

    std::vector<bool> notice(lines.size(), false);
    size_t first = 0;
    while (first < lines.size()) {
        if (lines[first].body.isEmpty()) {
            ++first;
            continue;
        }
        // One paragraph: up to an empty line, or to where comment lines start or stop.
        size_t last = first;
        int prose = 0;
        int proseWords = 0;
        while (last < lines.size() && !lines[last].body.isEmpty() &&
               lines[last].comment == lines[first].comment) {
            if (lines[last].prose) {
                ++prose;
                proseWords += lines[last].words;
            }
            ++last;
        }
        const bool paragraphIsNotice =
            (size_t(prose) * 2 >= last - first &&
             (prose >= NoticeProseLines || proseWords >= NoticeProseWords)) ||
            opensAsNotice(lines[first].body);
        // Notice text ends where a record begins without an empty line before it ("...
        // Registrars.\nDomain Name: EXAMPLE.COM"): the rest is a paragraph of its own.
        if (paragraphIsNotice) {
            for (size_t i = first + 1; i < last; ++i) {
                if (lines[i].factLabel) {
                    last = i;
                    break;
                }
            }
        }
        for (size_t i = first; i < last; ++i)
            notice[i] = lines[i].forced || (paragraphIsNotice && !lines[i].factLabel);
        first = last;
    }
    return notice;
}
