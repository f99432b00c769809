#include "facts/answerphrases.h"

#include "facts/labeltable.h"
#include "facts/notices.h"
#include "facts/recordfacts.h"
#include "text/asciicase.h"

#include <QString>

#include <array>
#include <bitset>
#include <vector>

namespace {

enum class Kind
{
    Throttle,
    NoMatch,
    Reserved,
    Invalid
};

struct Phrase
{
    const char *text; // lower case ASCII
    Kind kind;
};

// Refusals because of the query rate. They win over every other reading of an answer that
// carries no record, so that a refusal which also says "not found" is never read as a free name.
const Phrase phrases[] = {
    {"limit exceeded", Kind::Throttle},
    {"limit has been exceeded", Kind::Throttle},
    {"limit reached", Kind::Throttle},
    {"error:201:", Kind::Throttle},
    {"access control limit", Kind::Throttle},
    {"allowed queries exceeded", Kind::Throttle},
    {"queries exceeded", Kind::Throttle},
    {"query rate", Kind::Throttle},
    {"rate limit", Kind::Throttle},
    {"excessive quer", Kind::Throttle},
    {"excessive use", Kind::Throttle},
    {"too many queries", Kind::Throttle},
    {"too many requests", Kind::Throttle},
    {"too many connections", Kind::Throttle},
    {"too many connection attempts", Kind::Throttle},
    {"maximum query rate", Kind::Throttle},
    {"maximum number of queries", Kind::Throttle},
    {"per second exceeded", Kind::Throttle},
    {"quota exceeded", Kind::Throttle},
    {"exceeded the query limit", Kind::Throttle},
    {"exceeded the maximum", Kind::Throttle},
    {"exceeded your", Kind::Throttle},
    {"you have exceeded", Kind::Throttle},
    {"have been blacklisted", Kind::Throttle},
    {"has been blacklisted", Kind::Throttle},
    {"temporarily blocked", Kind::Throttle},
    {"temporarily denied", Kind::Throttle},
    {"address has been blocked", Kind::Throttle},
    {"try again later", Kind::Throttle},
    {"please wait a while", Kind::Throttle},
    {"query quota", Kind::Throttle},
    {"has been exceeded", Kind::Throttle},
    {"rate exceeded", Kind::Throttle},

    // The name is not registered.
    {"no match", Kind::NoMatch},
    {"not found", Kind::NoMatch},
    {"no found", Kind::NoMatch},
    {"no data found", Kind::NoMatch},
    {"no entries found", Kind::NoMatch},
    {"no entry found", Kind::NoMatch},
    {"nothing found", Kind::NoMatch},
    {"no object found", Kind::NoMatch},
    {"object_not_found", Kind::NoMatch},
    {"does not exist", Kind::NoMatch},
    {"not exist", Kind::NoMatch},
    {"no matching record", Kind::NoMatch},
    {"not find matchingrecord", Kind::NoMatch},
    {"no records matching", Kind::NoMatch},
    {"no record found", Kind::NoMatch},
    {"no such domain", Kind::NoMatch},
    {"is available for registration", Kind::NoMatch},
    {"is available for purchase", Kind::NoMatch},
    {"available for registration", Kind::NoMatch},
    {"is free", Kind::NoMatch},
    {"is not registered", Kind::NoMatch},
    {"not been registered", Kind::NoMatch},
    {"not registered", Kind::NoMatch},
    {"no information available about domain", Kind::NoMatch},
    {"we do not have an entry", Kind::NoMatch},
    {"there was no match", Kind::NoMatch},
    {"no data was found", Kind::NoMatch},
    {"returned 0 objects", Kind::NoMatch},
    {"nincs tal", Kind::NoMatch},
    {"no se encontr", Kind::NoMatch},
    {"no existe", Kind::NoMatch},
    {"n'existe pas", Kind::NoMatch},
    {"keine daten", Kind::NoMatch},
    {"non trovato", Kind::NoMatch},
    {"name not known", Kind::NoMatch},
    {"no domain records", Kind::NoMatch},
    {"no se encuentra", Kind::NoMatch},
    {"unknown domain", Kind::NoMatch},
    {"domain is available", Kind::NoMatch},
    {"name is available", Kind::NoMatch},

    // The registry keeps the name back.
    {"is reserved", Kind::Reserved},
    {"has been reserved", Kind::Reserved},
    {"reserved by the registry", Kind::Reserved},
    {"reserved name", Kind::Reserved},
    {"reserved domain", Kind::Reserved},
    {"registry reserved", Kind::Reserved},
    {"domain is blocked", Kind::Reserved},
    {"name is blocked", Kind::Reserved},
    {"has been blocked", Kind::Reserved},
    {"not available for registration", Kind::Reserved},
    {"cannot be registered", Kind::Reserved},
    {"can not be registered", Kind::Reserved},
    {"is prohibited", Kind::Reserved},
    {"restricted from registration", Kind::Reserved},
    {"prohibited from registration", Kind::Reserved},
    {"name is restricted", Kind::Reserved},

    // The query itself was refused.
    {"invalid query", Kind::Invalid},
    {"invalid domain", Kind::Invalid},
    {"invalid input", Kind::Invalid},
    {"invalid request", Kind::Invalid},
    {"invalid pattern", Kind::Invalid},
    {"invalid character", Kind::Invalid},
    {"invalid syntax", Kind::Invalid},
    {"invalid search", Kind::Invalid},
    {"malformed", Kind::Invalid},
    {"not a valid", Kind::Invalid},
    {"query is invalid", Kind::Invalid},
    {"incorrect domain name", Kind::Invalid},
    {"wrong top level domain", Kind::Invalid},
    {"unsupported tld", Kind::Invalid},
    {"unrecognised command", Kind::Invalid},
    {"unrecognized command", Kind::Invalid},
};

// Candidates by their first two characters; a bit set of the pairs that start any phrase lets
// the scan pass over most positions with one lookup.
struct PhraseIndex
{
    std::bitset<128 * 128> pairs;
    std::array<std::vector<int>, 128> byFirst;

    PhraseIndex()
    {
        for (int i = 0; i < int(std::size(phrases)); ++i) {
            const char *text = phrases[i].text;
            pairs.set(size_t(text[0]) * 128 + size_t(text[1]));
            byFirst[size_t(text[0])].push_back(i);
        }
    }
};

const PhraseIndex &phraseIndex()
{
    static const PhraseIndex index;
    return index;
}

} // namespace

AnswerPhrases scanAnswerPhrases(QStringView text)
{
    const PhraseIndex &index = phraseIndex();
    AnswerPhrases found;
    const char16_t *data = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i + 1 < size; ++i) {
        const char16_t a = asciiLower(data[i]);
        const char16_t b = asciiLower(data[i + 1]);
        if (a >= 128 || b >= 128 || !index.pairs.test(size_t(a) * 128 + b))
            continue;
        for (int p : index.byFirst[a]) {
            const char *phrase = phrases[p].text;
            qsizetype k = 1;
            while (phrase[k] && i + k < size && asciiLower(data[i + k]) == char16_t(phrase[k]))
                ++k;
            if (phrase[k])
                continue;
            switch (phrases[p].kind) {
            case Kind::Throttle:
                found.throttle = true;
                break;
            case Kind::NoMatch:
                found.noMatch = true;
                break;
            case Kind::Reserved:
                found.reserved = true;
                break;
            case Kind::Invalid:
                found.invalid = true;
                break;
            }
        }
    }
    return found;
}

namespace {

void add(AnswerPhrases &to, const AnswerPhrases &from)
{
    to.throttle |= from.throttle;
    to.noMatch |= from.noMatch;
    to.reserved |= from.reserved;
    to.invalid |= from.invalid;
}

bool isLineBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c.unicode() == 0xa0;
}

// A message line that is a status word alone, or a few words ending in "available".
AnswerPhrases terseLine(QStringView line)
{
    AnswerPhrases found;
    while (!line.isEmpty() && (line.front() == u'%' || line.front() == u'#' ||
                               line.front() == u'*' || isLineBlank(line.front())))
        line = line.mid(1);
    while (!line.isEmpty() && isLineBlank(line.back()))
        line.chop(1);
    if (line.isEmpty() || line.size() > 80)
        return found;
    const RecordStatus status = statusFromStatusValue(line);
    if (status == RecordStatus::Available)
        found.noMatch = true;
    else if (status == RecordStatus::Reserved)
        found.reserved = true;
    else if (status == RecordStatus::Invalid)
        found.invalid = true;
    if (status != RecordStatus::Unknown)
        return found;
    const QList<QStringView> words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.size() > 4)
        return found;
    QStringView last = words.last();
    while (!last.isEmpty() && (last.back() == u'.' || last.back() == u'!'))
        last.chop(1);
    if (!equalsCaseless(last, QLatin1StringView("available")))
        return found;
    for (QStringView word : words) {
        if (equalsCaseless(word, QLatin1StringView("not")))
            return found;
    }
    found.noMatch = true;
    return found;
}

} // namespace

AnswerReading readAnswerPhrases(QStringView text)
{
    AnswerReading reading;
    const std::vector<bool> notice = noticeLines(text);
    std::vector<QStringView> notices;
    qsizetype start = 0;
    size_t index = 0;
    while (start <= text.size() && index < notice.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        const QStringView line = text.mid(start, end - start);
        if (notice[index]) {
            notices.push_back(line);
        } else {
            add(reading.message, scanAnswerPhrases(line));
            add(reading.message, terseLine(line));
        }
        start = end + 1;
        ++index;
    }
    // The notice text matters only when the message says nothing.
    const AnswerPhrases &m = reading.message;
    if (!m.throttle && !m.noMatch && !m.reserved && !m.invalid) {
        for (QStringView line : notices)
            add(reading.notice, scanAnswerPhrases(line));
    }
    return reading;
}
