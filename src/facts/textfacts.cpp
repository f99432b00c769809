// Reading facts from the text of a whois record: one pass over its lines, each line looked up in
// the label tables of labeltable.cpp; dates read by whoisdate.cpp; the free text classified by
// the phrase tables of answerphrases.cpp.
#include "facts/answerphrases.h"
#include "facts/iprange.h"
#include "facts/labeltable.h"
#include "facts/normaliser.h"
#include "facts/notices.h"
#include "facts/whoisdate.h"
#include "text/asciicase.h"
#include "text/findchar.h"

#include <array>
#include <climits>
#include <vector>

namespace {

struct RankedValue
{
    QString value;
    int rank = INT_MAX;
    int object = -1; // the block the value came from
    QStringView raw; // a date as written, read again once the answer's day/month order is known
    bool ordered = false; // the date's label said its day/month order

    void offer(const QString &candidate, int candidateRank, int fromObject = -1,
               QStringView written = {}, bool writtenOrder = false)
    {
        if (!candidate.isEmpty() && candidateRank < rank) {
            value = candidate;
            rank = candidateRank;
            object = fromObject;
            raw = written;
            ordered = writtenOrder;
        }
    }

    // For dates of change: of equally good labels in one object the latest date ("changed:"
    // lines in order); between objects the first, the domain's own, before its contacts'.
    void offerLatest(const QString &date, int candidateRank, int fromObject, QStringView written,
                     bool writtenOrder)
    {
        if (!date.isEmpty() && candidateRank == rank && fromObject == object && date > value) {
            value = date;
            raw = written;
            ordered = writtenOrder;
        } else {
            offer(date, candidateRank, fromObject, written, writtenOrder);
        }
    }
};

// One network or AS number object and the objects that follow it up to the next one.
struct Network
{
    RankedValue range, cidr, name, handle, country, organization, origin, abuseEmail, abusePhone,
        created, updated;
    double addresses = 0;
    bool autNum = false;
};

int indentOf(QStringView line)
{
    int indent = 0;
    for (QChar c : line) {
        if (c == QLatin1Char(' ') || c.unicode() == 0xa0)
            ++indent;
        else if (c == QLatin1Char('\t'))
            indent = (indent / 8 + 1) * 8;
        else
            break;
    }
    return indent;
}

// A heading as the section tables name it: of a bilingual heading ("Titular / Registrant"), the
// second language's side.
QString sectionName(const QString &heading)
{
    const qsizetype slash = indexOfCaseless(heading, " / ");
    return slash > 0 ? heading.mid(slash + 3) : heading;
}

bool isAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

struct LabelledLine
{
    QStringView label; // empty for an unlabelled line
    QStringView value;
};

// Cuts "label: value", "label.....: value", "[label]   value" and "a. [label]  value".
LabelledLine cutLabel(QStringView text)
{
    QStringView bracketed = text;
    if (bracketed.size() > 3 && isAsciiLetter(bracketed[0]) && bracketed[1] == QLatin1Char('.') &&
        bracketed[2] == QLatin1Char(' '))
        bracketed = trimmedRecordText(bracketed.mid(3));
    if (bracketed.startsWith(QLatin1Char('['))) {
        const qsizetype close = bracketed.indexOf(QLatin1Char(']'));
        if (close > 1 && close < 80)
            return {bracketed.mid(1, close - 1), trimmedRecordText(bracketed.mid(close + 1))};
        return {};
    }
    // The label ends at the first colon (ASCII or full-width) of the first 80 characters; a
    // bracket, an at sign, an angle bracket, a quote or an equals sign before it says the line
    // is not labelled so.
    const qsizetype colon = findAnyOf<u':', u'\uff1a', u'[', u'@', u'<', u'"', u'='>(text.left(80));
    if (colon < 0 || (text[colon] != QLatin1Char(':') && text[colon].unicode() != 0xff1a))
        return {};
    // No label, or a URL's colon ("Example Inc. (http://www.example.net)").
    if (colon == 0 || colonIsUrls(text, colon))
        return {};
    const QStringView label = trimmedRecordText(text.left(colon));
    if (label.isEmpty() || startsWithCaseless(label, "http"))
        return {};
    return {label, trimmedRecordText(text.mid(colon + 1))};
}

QStringView firstToken(QStringView value)
{
    qsizetype end = 0;
    while (end < value.size() && !isRecordBlank(value[end]))
        ++end;
    return value.left(end);
}

// A host name from a name server value: its first word, lower case, without the trailing dot and
// without the addresses that may follow; empty when the word is no host name.
QString hostName(QStringView value)
{
    value = trimmedRecordText(value);
    QStringView host = firstToken(value);
    // "example.pt NS ns1.example.net.": the zone, its type, the host.
    const QStringView rest = trimmedRecordText(value.mid(host.size()));
    if (startsWithCaseless(rest, "ns "))
        host = firstToken(trimmedRecordText(rest.mid(3)));
    while (host.endsWith(QLatin1Char('.')) || host.endsWith(QLatin1Char(',')))
        host.chop(1);
    if (host.size() < 3 || host.size() > 253 || !host.contains(QLatin1Char('.')))
        return {};
    bool letter = false;
    for (QChar c : host) {
        const char16_t u = c.unicode();
        if (u == ':' || u == '/' || u == '@' || u == '(' || u == '[' || u == '=')
            return {};
        if (isAsciiLetter(c) || u >= 128)
            letter = true;
    }
    if (!letter) // an address, not a name
        return {};
    return host.toString().toLower();
}

void addUnique(QStringList &list, const QString &value)
{
    if (!value.isEmpty() && !list.contains(value))
        list.append(value);
}

bool isHandleCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return isAsciiLetter(c) || (u >= '0' && u <= '9') || u == '-' || u == '_' || u == '.';
}

// "R22-LRCC", "REG-EXAMPLE", "ACTI-0024", "ua.example": one word of letters and digits that a
// name would not be. In parentheses a word in capitals counts too ("(EXMP)").
bool isRegistrarHandle(QStringView word, bool parenthesised)
{
    if (word.isEmpty() || word.size() > 40)
        return false;
    bool mark = false;
    bool lower = false;
    int letters = 0;
    for (QChar c : word) {
        if (!isHandleCharacter(c))
            return false;
        const char16_t u = c.unicode();
        if ((u >= '0' && u <= '9') || u == '-' || u == '_')
            mark = true;
        if (u >= 'a' && u <= 'z')
            lower = true;
        if (isAsciiLetter(c))
            ++letters;
    }
    // A two-letter country prefix with a dot: "ua.example".
    const bool countryPrefixed = word.size() > 3 && word[2] == QLatin1Char('.') &&
                                 word[0].isLower() && word[1].isLower() &&
                                 !word.mid(3).contains(QLatin1Char('.'));
    return mark || countryPrefixed || (parenthesised && !lower && letters >= 2);
}

// "MarkMonitor Inc R45-ME": the handle form one registry prints after the name.
bool isTrailingRegistrarHandle(QStringView word)
{
    if (word.size() < 4 || word[0] != QLatin1Char('R'))
        return false;
    qsizetype i = 1;
    while (i < word.size() && word[i].isDigit() && word[i].unicode() < 128)
        ++i;
    if (i == 1 || i + 1 >= word.size() || word[i] != QLatin1Char('-'))
        return false;
    for (++i; i < word.size(); ++i) {
        if (word[i].unicode() < 'A' || word[i].unicode() > 'Z')
            return false;
    }
    return true;
}

// A registrar value taken apart: the name, without the tag, handle or URL some registries print
// beside it; the handle; a number in parentheses (an IANA id, as registries that give one there
// print it).
struct RegistrarValue
{
    QString name;
    QString handle;
    QString number;
    bool nameIsHandle = false; // the value is a handle and nothing else
    bool nameIsUrl = false;    // "www.example.net": the registrar named by its site
};

RegistrarValue registrarValue(QStringView value)
{
    RegistrarValue out;
    // "Example Ltd t/a Example [Tag = EXAMPLE]"
    const qsizetype tag = indexOfCaseless(value, " [tag");
    if (tag > 0) {
        QStringView inner = value.mid(tag + 5);
        const qsizetype close = inner.indexOf(QLatin1Char(']'));
        if (close >= 0)
            inner = inner.left(close);
        inner = trimmedRecordText(inner);
        if (inner.startsWith(QLatin1Char('=')))
            inner = trimmedRecordText(inner.mid(1));
        out.handle = inner.toString();
        value = value.left(tag);
    }
    const qsizetype url = indexOfCaseless(value, "(http");
    if (url > 0)
        value = value.left(url);
    const qsizetype bareUrl = indexOfCaseless(value, " http");
    if (bareUrl > 0)
        value = value.left(bareUrl);
    value = trimmedRecordText(value);
    while (value.endsWith(QLatin1Char('(')))
        value = trimmedRecordText(value.chopped(1));
    if (value.endsWith(QLatin1Char(')'))) {
        // "Example, Inc. (R22-LREX)", "Example IT (380)"
        const qsizetype open = value.lastIndexOf(QLatin1Char('('));
        const QStringView inner =
            open > 0 ? trimmedRecordText(value.sliced(open + 1, value.size() - open - 2))
                     : QStringView();
        bool digits = !inner.isEmpty();
        for (QChar c : inner)
            digits = digits && c.unicode() >= '0' && c.unicode() <= '9';
        if (digits) {
            out.number = inner.toString();
            value = trimmedRecordText(value.left(open));
        } else if (isRegistrarHandle(inner, true)) {
            if (out.handle.isEmpty())
                out.handle = inner.toString();
            value = trimmedRecordText(value.left(open));
        }
    } else {
        const qsizetype space = value.lastIndexOf(QLatin1Char(' '));
        if (space > 0 && isTrailingRegistrarHandle(value.mid(space + 1))) {
            if (out.handle.isEmpty())
                out.handle = value.mid(space + 1).toString();
            value = trimmedRecordText(value.left(space));
        }
    }
    if (startsWithCaseless(value, "http"))
        return out;
    if (startsWithCaseless(value, "www.")) {
        out.nameIsUrl = true;
    } else if (isRegistrarHandle(value, false)) {
        out.nameIsHandle = true;
        if (out.handle.isEmpty())
            out.handle = value.toString();
    }
    out.name = value.toString();
    return out;
}

// "Google LLC (GOGL)" -> "Google LLC"
QString withoutTrailingHandle(QStringView value)
{
    value = trimmedRecordText(value);
    if (value.endsWith(QLatin1Char(')'))) {
        const qsizetype open = value.lastIndexOf(QLatin1Char('('));
        if (open > 0)
            value = trimmedRecordText(value.left(open));
    }
    return value.toString();
}

QString emailIn(QStringView value)
{
    qsizetype start = 0;
    while (start < value.size()) {
        while (start < value.size() &&
               (isRecordBlank(value[start]) || value[start] == QLatin1Char('\'') ||
                value[start] == QLatin1Char('"') || value[start] == QLatin1Char('<')))
            ++start;
        qsizetype end = start;
        while (end < value.size() && !isRecordBlank(value[end]) &&
               value[end] != QLatin1Char('\'') && value[end] != QLatin1Char('"') &&
               value[end] != QLatin1Char('>'))
            ++end;
        const QStringView word = value.mid(start, end - start);
        if (word.contains(QLatin1Char('@')))
            return word.toString();
        start = end + 1;
    }
    return {};
}

QString asNumber(QStringView value)
{
    value = firstToken(trimmedRecordText(value));
    if (startsWithCaseless(value, "as"))
        value = value.mid(2);
    if (value.isEmpty())
        return {};
    for (QChar c : value) {
        if (!c.isDigit())
            return {};
    }
    return QLatin1String("AS") + value;
}

// "PRIKLAD-001", "ua.example", "C0123456-AU": a contact handle given where a name may stand.
bool looksLikeHandle(QStringView value)
{
    bool mark = false;
    for (QChar c : value) {
        if (isRecordBlank(c))
            return false;
        if (c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('_'))
            mark = true;
    }
    return mark;
}

class TextReader
{
public:
    explicit TextReader(QStringView text) : m_text(text) {}

    RecordFacts read();

private:
    void readLine(QStringView raw);
    void closeSection() { m_section.clear(), m_sectionState = SectionState::None; }
    void readComment(QStringView text);
    void labelled(QStringView line, QStringView labelText, QStringView value, int indent);
    void unlabelled(QStringView text, int indent);
    void apply(const LabelMeaning &meaning, QStringView value);
    bool labelledByGap(QStringView text, int indent);
    QString date(QStringView value);
    void offerDate(RankedValue &to, QStringView value, int rank, bool latest = false);
    void applyNetwork(Field field, int rank, QStringView value);
    bool isListField(Field field) const
    {
        return field == Field::NameServer || field == Field::DomainStatus;
    }

    enum class SectionState
    {
        None,
        Pending,
        Indented,
        Flat
    };

    QStringView m_text;
    RankedValue m_registrar, m_ianaId, m_registrarHandle, m_registrarNumber, m_created, m_updated,
        m_expires, m_dnssec, m_organization, m_country, m_abuseEmail, m_abusePhone, m_origin;
    QString m_domainName;
    QStringList m_nameServers, m_domainStatus;
    RecordStatus m_statusFromField = RecordStatus::Unknown;
    std::vector<Network> m_networks;
    bool m_sawDomainName = false;
    bool m_inRangeObject = false; // the current block is an address object
    int m_sectionLines = 0;       // unlabelled lines seen under the current heading
    QString m_objectType;         // first label of the current block
    bool m_otherObject = false;
    bool m_ignoredObject = false;
    int m_object = 0; // blocks (runs of lines between empty lines) seen so far
    // Day/month order: what the current label says, and what the answer's dates have shown.
    DayMonthOrder m_labelOrder = DayMonthOrder::Unknown;
    bool m_shownDayFirst = false;
    bool m_shownMonthFirst = false;

    QString m_section;
    int m_sectionIndent = 0;
    bool m_sectionHasColon = false;
    SectionState m_sectionState = SectionState::None;
    Field m_continued = Field::None; // list fact whose value goes on on deeper lines
    int m_continuedIndent = 0;
};

void TextReader::readComment(QStringView text)
{
    // "% Abuse contact for '192.0.2.0 - 192.0.2.255' is 'abuse@example.net'"
    const qsizetype is = indexOfCaseless(text, "abuse contact for");
    if (is < 0)
        return;
    const QString email = emailIn(text.mid(text.lastIndexOf(QLatin1String(" is ")) + 1));
    m_abuseEmail.offer(email, 2);
}

void TextReader::applyNetwork(Field field, int rank, QStringView value)
{
    if (field == Field::NetworkRange) {
        m_inRangeObject = true;
        const auto range = ipRangeFromText(value);
        Network network;
        if (range) {
            network.range.offer(range->range, 1);
            network.cidr.offer(range->cidr, 2);
            network.addresses = range->addresses;
        }
        m_networks.push_back(network);
        return;
    }
    if (field == Field::AutNum) {
        if (asNumber(value).isEmpty())
            return; // "aut-num: N/A"
        if (m_inRangeObject && !m_networks.empty()) {
            m_networks.back().origin.offer(asNumber(value), 1);
            return;
        }
        Network network;
        network.autNum = true;
        const QString as = asNumber(value);
        network.handle.offer(as, 1);
        network.origin.offer(as, 1);
        m_networks.push_back(network);
        return;
    }
    if (m_networks.empty())
        return;
    Network &network = m_networks.back();
    switch (field) {
    case Field::NetworkCidr: {
        // ARIN lists every prefix of the range: "192.0.2.0/25, 192.0.2.128/25".
        network.cidr.offer(trimmedRecordText(value).toString(), 1);
        break;
    }
    case Field::NetworkName:
        network.name.offer(firstToken(trimmedRecordText(value)).toString(), rank);
        break;
    case Field::NetworkHandle:
        network.handle.offer(firstToken(trimmedRecordText(value)).toString(), rank);
        break;
    case Field::NetworkCountry:
        network.country.offer(countryCode(value), rank);
        break;
    case Field::NetworkOrganization:
        network.organization.offer(withoutTrailingHandle(value), rank);
        break;
    default:
        break;
    }
}

QString TextReader::date(QStringView value)
{
    if (const auto shown = dayMonthOrderShown(value)) {
        m_shownDayFirst |= *shown == DayMonthOrder::DayFirst;
        m_shownMonthFirst |= *shown == DayMonthOrder::MonthFirst;
    }
    return utcDateFromText(value, m_labelOrder);
}

void TextReader::offerDate(RankedValue &to, QStringView value, int rank, bool latest)
{
    const QString utc = date(value);
    const bool ordered = m_labelOrder != DayMonthOrder::Unknown;
    if (latest)
        to.offerLatest(utc, rank, m_object, value, ordered);
    else
        to.offer(utc, rank, m_object, value, ordered);
}

void TextReader::apply(const LabelMeaning &meaning, QStringView value)
{
    value = trimmedRecordText(value);
    if (value.isEmpty())
        return;
    const int rank = meaning.rank;
    switch (meaning.field) {
    case Field::None:
        return;
    case Field::DomainName:
        m_sawDomainName = true;
        if (m_domainName.isEmpty())
            m_domainName = hostName(value);
        return;
    case Field::Registrar: {
        if (isRedactedValue(value) || isNoRegistrarValue(value))
            return;
        const RegistrarValue registrar = registrarValue(value);
        // A handle alone, or a site, names the registrar only when nothing better does.
        m_registrar.offer(registrar.name,
                          registrar.nameIsHandle || registrar.nameIsUrl ? rank + 10 : rank);
        m_registrarHandle.offer(registrar.handle, rank);
        m_registrarNumber.offer(registrar.number, rank);
        return;
    }
    case Field::RegistrarHandle:
        if (!isRedactedValue(value))
            m_registrarHandle.offer(firstToken(value).toString(), rank);
        return;
    case Field::RegistrarIanaId: {
        qsizetype digits = 0;
        while (digits < value.size() && value[digits].isDigit() && value[digits].unicode() < 128)
            ++digits;
        m_ianaId.offer(value.left(digits).toString(), rank);
        return;
    }
    case Field::Created:
        if (!m_networks.empty())
            m_networks.back().created.offer(date(value), rank);
        else
            offerDate(m_created, value, rank);
        return;
    case Field::Updated:
        if (!m_networks.empty())
            m_networks.back().updated.offer(date(value), rank);
        else
            offerDate(m_updated, value, rank, true);
        return;
    case Field::Expires:
        offerDate(m_expires, value, rank);
        return;
    case Field::NameServer: {
        const QString host = hostName(value);
        // A bare word such as "DNS" may name the domain itself.
        if (!(meaning.generic && host == m_domainName))
            addUnique(m_nameServers, host);
        return;
    }
    case Field::DomainStatus: {
        if (!m_networks.empty())
            return; // an address block's status, not a domain's
        const RecordStatus said = statusFromStatusValue(value);
        if (said != RecordStatus::Unknown) {
            if (m_statusFromField == RecordStatus::Unknown)
                m_statusFromField = said;
            return;
        }
        // Words as given, without the URL of EPP codes; a comma separates several.
        for (QStringView part : value.tokenize(QLatin1Char(','))) {
            QString words;
            for (QStringView word :
                 trimmedRecordText(part).tokenize(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                if (startsWithCaseless(word, "http") || startsWithCaseless(word, "(http"))
                    break;
                if (!words.isEmpty())
                    words += QLatin1Char(' ');
                words += word;
            }
            addUnique(m_domainStatus, words);
        }
        return;
    }
    case Field::Dnssec:
        m_dnssec.offer(dnssecFromValue(value), rank);
        return;
    case Field::DnssecKey:
        m_dnssec.offer(QStringLiteral("signed"), rank);
        return;
    case Field::RegistrantOrganization:
        if (!isRedactedValue(value) && !looksLikeHandle(value))
            m_organization.offer(value.toString(), rank);
        return;
    case Field::RegistrantCountry:
        m_country.offer(countryCode(value), rank);
        return;
    case Field::AbuseEmail: {
        const QString email = emailIn(value);
        if (!m_networks.empty())
            m_networks.back().abuseEmail.offer(email, rank);
        else
            m_abuseEmail.offer(email, rank);
        return;
    }
    case Field::AbusePhone:
        if (!isRedactedValue(value)) {
            if (!m_networks.empty())
                m_networks.back().abusePhone.offer(value.toString(), rank);
            else
                m_abusePhone.offer(value.toString(), rank);
        }
        return;
    case Field::OriginAs: {
        const QString as = asNumber(value);
        if (!m_networks.empty())
            m_networks.back().origin.offer(as, rank);
        else
            m_origin.offer(as, rank);
        return;
    }
    default:
        applyNetwork(meaning.field, rank, value);
        return;
    }
}

void TextReader::labelled(QStringView line, QStringView labelText, QStringView value, int indent)
{
    const QString label = normalisedLabel(labelText);
    if (m_objectType.isEmpty()) {
        m_objectType = label;
        m_otherObject = isOtherObject(label);
        m_ignoredObject = isIgnoredObject(label);
    }
    if (m_ignoredObject)
        return;
    LabelMeaning meaning;
    bool found = false;
    QStringView note;
    if (!m_networks.empty()) {
        if (const auto network = networkLabelMeaning(label)) {
            meaning = *network;
            found = true;
        }
    }
    if (!found && m_sectionState != SectionState::None && m_sectionState != SectionState::Pending) {
        meaning = labelMeaning(m_section + QLatin1Char('/') + label);
        found = meaning.field != Field::None;
        if (!found) {
            meaning = labelMeaning(label);
            found =
                meaning.field != Field::None && (!meaning.generic || !isForeignSection(m_section));
            if (!found) {
                // Under a heading of names ("Name servers:"), an unknown label is a name with an
                // address after it ("ns1.example.net [2001:db8::1]").
                const LabelMeaning heading = labelMeaning(m_section);
                if (isListField(heading.field)) {
                    apply(heading, hostName(value).isEmpty() ? line : value);
                    return;
                }
            }
        }
    } else if (!found) {
        // In a registrar or contact object, its own labels first ("organization" there is the
        // registrar's); its bare words do not speak of the domain.
        if (m_otherObject && m_objectType != label) {
            meaning = labelMeaning(m_objectType + QLatin1Char('/') + label);
            found = meaning.field != Field::None;
        }
        if (!found) {
            meaning = labelMeaningOfParts(label, &note);
            found = meaning.field != Field::None && !(meaning.generic && m_otherObject);
        }
    }
    if (!found) {
        qsizetype length = 0;
        const Field field = prefixedFact(labelText, length);
        if (field != Field::None) {
            // "Record created on 2001-02-03 10:11:12": the colon was the time's.
            const QStringView whole(labelText.data(),
                                    value.data() + value.size() - labelText.data());
            apply(LabelMeaning{field, 2, false}, whole.mid(length));
        }
    }
    if (value.isEmpty()) {
        // A heading: its lines follow, indented deeper or up to the next empty line.
        if (m_sectionState == SectionState::None || m_sectionState == SectionState::Pending ||
            indent <= m_sectionIndent) {
            m_section = sectionName(label);
            m_sectionIndent = indent;
            m_sectionHasColon = true;
            m_sectionState = SectionState::Pending;
            m_sectionLines = 0;
        }
        m_continued = Field::None;
        return;
    }
    if (found) {
        // "Creation Date (dd/mm/yyyy)": the label says how its date is written.
        if (note.contains(QLatin1String("dd"), Qt::CaseInsensitive) &&
            note.contains(QLatin1String("mm"), Qt::CaseInsensitive))
            m_labelOrder = note.indexOf(QLatin1String("dd"), 0, Qt::CaseInsensitive) <
                                   note.indexOf(QLatin1String("mm"), 0, Qt::CaseInsensitive)
                               ? DayMonthOrder::DayFirst
                               : DayMonthOrder::MonthFirst;
        apply(meaning, value);
        m_labelOrder = DayMonthOrder::Unknown;
    }
    if (found && isListField(meaning.field)) {
        m_continued = meaning.field;
        m_continuedIndent = indent;
    } else {
        m_continued = Field::None;
    }
}

void TextReader::unlabelled(QStringView text, int indent)
{
    if (m_ignoredObject)
        return;
    if (m_sectionState == SectionState::Indented || m_sectionState == SectionState::Flat) {
        LabelMeaning meaning = labelMeaning(m_section + QLatin1Char('/'));
        if (meaning.field == Field::None)
            meaning = labelMeaning(m_section);
        // A name or registrar is the first line; address lines follow it.
        if (meaning.field != Field::None && (isListField(meaning.field) || m_sectionLines == 0))
            apply(meaning, text);
        ++m_sectionLines;
        return;
    }
    if (m_continued != Field::None && indent > m_continuedIndent) {
        apply(LabelMeaning{m_continued, 1, false}, text);
        return;
    }
    m_continued = Field::None;
    qsizetype length = 0;
    const Field field = prefixedFact(text, length);
    if (field != Field::None) {
        apply(LabelMeaning{field, 2, false}, text.mid(length));
        return;
    }
    // A bare heading ("Registrant", "Nameservers") when the next line is indented deeper; the
    // heading of names or of the registrar also when its lines follow flush.
    if (text.size() < 60) {
        m_section = sectionName(normalisedLabel(text));
        m_sectionIndent = indent;
        const Field heading = labelMeaning(m_section).field;
        m_sectionHasColon = isListField(heading) || heading == Field::Registrar;
        m_sectionState = SectionState::Pending;
        m_sectionLines = 0;
    }
}

void TextReader::readLine(QStringView raw)
{
    const QStringView text = trimmedRecordText(raw);
    if (text.isEmpty()) {
        // A heading with a colon may have its lines after an empty line ("Name Servers:").
        if (!(m_sectionState == SectionState::Pending && m_sectionHasColon))
            closeSection();
        m_continued = Field::None;
        if (!m_objectType.isEmpty())
            ++m_object;
        m_objectType.clear();
        m_otherObject = false;
        m_ignoredObject = false;
        m_inRangeObject = false;
        return;
    }
    if (text[0] == QLatin1Char('%') || text[0] == QLatin1Char('#')) {
        readComment(text);
        return;
    }
    const int indent = indentOf(raw);
    if (m_sectionState == SectionState::Pending) {
        if (indent > m_sectionIndent)
            m_sectionState = SectionState::Indented;
        else if (m_sectionHasColon)
            m_sectionState = SectionState::Flat;
        else
            closeSection();
    } else if (m_sectionState == SectionState::Indented && indent <= m_sectionIndent) {
        closeSection();
    }
    const LabelledLine line = cutLabel(text);
    if (!line.label.isEmpty())
        labelled(text, line.label, line.value, indent);
    else if (!labelledByGap(text, indent))
        unlabelled(text, indent);
}

// "Registrar<TAB>Example Ltd", "Valid-date      2020-01-02": a label of the tables, then a tab
// or a run of spaces, then its value.
bool TextReader::labelledByGap(QStringView text, int indent)
{
    // A gap from the second character to the fortieth, with a character after it.
    const qsizetype reach = std::min<qsizetype>(text.size() - 1, 40);
    if (reach < 2)
        return false;
    const qsizetype found = findTabOrTwoSpaces(text.sliced(1, reach));
    if (found < 0 || found > reach - 2)
        return false;
    const qsizetype gap = found + 1;
    const QStringView label = trimmedRecordText(text.left(gap));
    const QStringView value = trimmedRecordText(text.mid(gap));
    if (label.isEmpty() || value.isEmpty() ||
        labelMeaningOfParts(normalisedLabel(label)).field == Field::None)
        return false;
    labelled(text, label, value, indent);
    return true;
}

RecordFacts TextReader::read()
{
    qsizetype start = 0;
    const qsizetype size = m_text.size();
    while (start <= size) {
        qsizetype end = findChar(m_text, u'\n', start);
        if (end < 0)
            end = size;
        readLine(m_text.mid(start, end - start));
        start = end + 1;
    }

    // Dates written with numbers alone, read again when the answer's other dates showed the
    // month first (12/18/2001) and none showed the day first.
    if (m_shownMonthFirst && !m_shownDayFirst) {
        for (RankedValue *date : {&m_created, &m_updated, &m_expires}) {
            if (!date->raw.isEmpty() && !date->ordered)
                date->value = utcDateFromText(date->raw, DayMonthOrder::MonthFirst);
        }
    }

    RecordFacts facts;
    facts.registrar = m_registrar.value;
    facts.registrarIanaId = m_ianaId.value;
    facts.registrarHandle = m_registrarHandle.value;
    // A number in parentheses after the name: the IANA id when none is given otherwise, else
    // the registry's own number for the registrar.
    if (facts.registrarIanaId.isEmpty())
        facts.registrarIanaId = m_registrarNumber.value;
    else if (facts.registrarHandle.isEmpty() && m_registrarNumber.value != facts.registrarIanaId)
        facts.registrarHandle = m_registrarNumber.value;
    facts.created = m_created.value;
    facts.updated = m_updated.value;
    facts.expires = m_expires.value;
    facts.nameServers = m_nameServers;
    facts.domainStatus = m_domainStatus;
    facts.dnssec = m_dnssec.value;
    facts.registrantOrganization = m_organization.value;
    facts.registrantCountry = m_country.value;
    facts.abuseEmail = m_abuseEmail.value;
    facts.abusePhone = m_abusePhone.value;
    facts.originAs = m_origin.value;

    // The most specific address block; an AS number object when there is none.
    const Network *chosen = nullptr;
    for (const Network &n : m_networks) {
        if (n.autNum) {
            if (!chosen)
                chosen = &n;
            continue;
        }
        if (n.range.value.isEmpty())
            continue;
        if (!chosen || chosen->autNum || chosen->range.value.isEmpty() ||
            n.addresses <= chosen->addresses)
            chosen = &n;
    }
    if (chosen) {
        facts.networkRange = chosen->range.value;
        facts.networkCidr = chosen->cidr.value;
        facts.networkName = chosen->name.value;
        facts.networkHandle = chosen->handle.value;
        facts.networkCountry = chosen->country.value;
        facts.networkOrganization = chosen->organization.value;
        if (!chosen->origin.value.isEmpty())
            facts.originAs = chosen->origin.value;
        if (!chosen->abuseEmail.value.isEmpty())
            facts.abuseEmail = chosen->abuseEmail.value;
        if (!chosen->abusePhone.value.isEmpty())
            facts.abusePhone = chosen->abusePhone.value;
        if (!chosen->created.value.isEmpty())
            facts.created = chosen->created.value;
        if (!chosen->updated.value.isEmpty())
            facts.updated = chosen->updated.value;
        // Abuse contacts given in a later object of the same answer.
        for (const Network &n : m_networks) {
            if (facts.abuseEmail.isEmpty())
                facts.abuseEmail = n.abuseEmail.value;
            if (facts.abusePhone.isEmpty())
                facts.abusePhone = n.abusePhone.value;
        }
    }

    const bool record = !facts.registrar.isEmpty() || !facts.registrarHandle.isEmpty() ||
                        !facts.created.isEmpty() || !facts.expires.isEmpty() ||
                        !facts.updated.isEmpty() || !facts.nameServers.isEmpty() ||
                        !facts.domainStatus.isEmpty() || !facts.registrarIanaId.isEmpty() ||
                        chosen != nullptr;
    if (m_statusFromField == RecordStatus::Reserved) {
        facts.status = RecordStatus::Reserved;
        return facts;
    }
    if (record) {
        facts.status = RecordStatus::Registered;
        return facts;
    }
    // No record came back. A status field is the domain's own word, never a refusal.
    if (m_statusFromField != RecordStatus::Unknown) {
        facts.status = m_statusFromField;
        return facts;
    }
    // The answer's message says why. Its notice text counts only when the message says nothing,
    // and then only for a refusal or "not found": a refusal is never read as a free name, and
    // the words of terms of use ("... is prohibited") never make a name reserved.
    const AnswerReading reading = readAnswerPhrases(m_text);
    const AnswerPhrases &message = reading.message;
    if (message.throttle)
        facts.status = RecordStatus::Throttled;
    else if (message.reserved)
        facts.status = RecordStatus::Reserved;
    else if (message.noMatch)
        facts.status = RecordStatus::Available;
    else if (message.invalid)
        facts.status = RecordStatus::Invalid;
    else if (reading.notice.throttle)
        facts.status = RecordStatus::Throttled;
    else if (reading.notice.noMatch)
        facts.status = RecordStatus::Available;
    else if (m_sawDomainName)
        facts.status = RecordStatus::Registered;
    return facts;
}

} // namespace

RecordFacts factsFromText(QStringView record)
{
    return TextReader(record).read();
}

bool isThrottleAnswer(QStringView text)
{
    return factsFromText(text).status == RecordStatus::Throttled;
}

bool isNoMatchAnswer(QStringView text)
{
    return factsFromText(text).status == RecordStatus::Available;
}
