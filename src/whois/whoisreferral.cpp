#include "whois/whoisreferral.h"

#include "net/ipaddress.h"
#include "text/asciicase.h"
#include "text/findchar.h"

#include <QList>

#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// Labels that name the next server, most telling first. Bare: the value is a host name (port
// 43). Url: the value is whois://host[:port] or rwhois://host[:port].
enum class Form
{
    Bare,
    Url
};
struct Label
{
    const char *name;
    Form form;
};
constexpr std::array labels{
    Label{"refer", Form::Bare},                  // IANA
    Label{"ReferralServer", Form::Url},          // ARIN
    Label{"Registrar WHOIS Server", Form::Bare}, // thin registries
    Label{"Whois Server", Form::Bare},           // thin registries, older layout
    Label{"whois", Form::Bare},                  // IANA's TLD record
};

// The regional registries, with the names their records and stubs use for them.
struct Registry
{
    const char *host;
    std::array<const char *, 4> names; // each matched as whole words, in any case
};
constexpr std::array registries{
    Registry{"whois.arin.net",
             {"American Registry for Internet Numbers", "ARIN", nullptr, nullptr}},
    Registry{"whois.ripe.net", {"RIPE Network Coordination Centre", "RIPE NCC", "RIPE", nullptr}},
    Registry{"whois.apnic.net",
             {"Asia Pacific Network Information Centre", "Asia Pacific Network Information Center",
              "APNIC", nullptr}},
    Registry{
        "whois.lacnic.net",
        {"Latin American and Caribbean IP address Regional Registry", "LACNIC", nullptr, nullptr}},
    Registry{"whois.afrinic.net",
             {"African Network Information Centre", "African Network Information Center", "AFRINIC",
              nullptr}},
};

// Phrases with which a registry says the block is another registry's.
constexpr std::array handOffPhrases{
    "transferred to",
    "not allocated by",
    "not allocated to",
    "not managed by",
    "NON-RIPE-NCC-MANAGED-ADDRESS-BLOCK",
};

// Labels whose value names the holder of an address block.
constexpr std::array holderLabels{"OrgName", "OrgId", "org-name", "owner"};

// Two or more labels of 1 to 63 lower-case letters, digits and inner hyphens.
bool isLdhHostName(QStringView host)
{
    qsizetype labels = 0;
    for (QStringView rest = host;;) {
        const qsizetype dot = rest.indexOf(u'.');
        const QStringView label = dot < 0 ? rest : rest.first(dot);
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        for (const QChar c : label) {
            if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'))
                return false;
        }
        ++labels;
        if (dot < 0)
            return labels >= 2;
        rest = rest.sliced(dot + 1);
    }
}

bool isHostName(const QString &host)
{
    if (isLdhHostName(host))
        return true;
    return host.contains(u':') && !IpAddress::fromString(host).isNull();
}

// host, host:port (Url form only) or [v6]:port.
std::optional<WhoisServer> parseAuthority(QString authority, bool portAllowed)
{
    authority = authority.section(u'/', 0, 0);
    WhoisServer server;
    QString portText;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        server.host = authority.mid(1, close - 1);
        if (authority.size() > close + 1) {
            if (authority.at(close + 1) != u':')
                return std::nullopt;
            portText = authority.mid(close + 2);
        }
    } else if (authority.count(u':') == 1) {
        server.host = authority.section(u':', 0, 0);
        portText = authority.section(u':', 1);
    } else {
        server.host = authority;
    }
    server.host = server.host.toLower();
    if (server.host.endsWith(u'.'))
        server.host.chop(1);
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!portAllowed || !ok || port == 0 || port > 65535)
            return std::nullopt;
        server.port = quint16(port);
    }
    if (!isHostName(server.host))
        return std::nullopt;
    return server;
}

// The value after "label:" at the start of a line, or null.
QStringView valueOf(QStringView line, const char *label)
{
    const QLatin1String name(label);
    if (!line.startsWith(name, Qt::CaseInsensitive))
        return {};
    QStringView rest = line.mid(name.size()).trimmed();
    if (!rest.startsWith(u':'))
        return {};
    return rest.mid(1).trimmed();
}

// A line that gives one of `labels` a value: "label:" at its start (spaces allowed before the
// colon), compared without letter case.
struct LabelledLine
{
    std::size_t label;
    QStringView value;
};

// Which label a trimmed line gives a value for, if any: at most one can, as no label is another
// followed by spaces. A name of plain ASCII (nearly every one) is compared a byte at a time,
// which is what case folding does to ASCII; any other is compared as valueOf compares, since a
// letter beyond ASCII can fold to an ASCII one (the long s to "s").
std::optional<LabelledLine> labelledLine(QStringView line)
{
    const qsizetype colon = line.indexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QStringView name = line.first(colon);
    for (const QChar c : name) {
        if (c.unicode() >= 0x80) {
            for (std::size_t i = 0; i < labels.size(); ++i) {
                const QStringView value = valueOf(line, labels[i].name);
                if (!value.isEmpty())
                    return LabelledLine{i, value};
            }
            return std::nullopt;
        }
    }
    while (!name.isEmpty() && name.back().isSpace())
        name.chop(1);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::string_view label(labels[i].name);
        if (std::size_t(name.size()) != label.size())
            continue;
        bool same = true;
        for (std::size_t at = 0; same && at < label.size(); ++at) {
            const char16_t c = name[qsizetype(at)].unicode();
            const char lowered = char(c >= u'A' && c <= u'Z' ? c + 32 : c);
            const char wanted =
                label[at] >= 'A' && label[at] <= 'Z' ? char(label[at] + 32) : label[at];
            same = lowered == wanted;
        }
        if (!same)
            continue;
        const QStringView value = line.sliced(colon + 1).trimmed();
        if (value.isEmpty())
            return std::nullopt;
        return LabelledLine{i, value};
    }
    return std::nullopt;
}

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// `name` in `text` as whole words; with `atStart`, only where the text starts.
bool namesWords(QStringView text, QLatin1StringView name, bool atStart)
{
    for (qsizetype from = 0;;) {
        const qsizetype at = text.indexOf(name, from, Qt::CaseInsensitive);
        if (at < 0 || (atStart && at > 0))
            return false;
        const qsizetype end = at + name.size();
        if ((at == 0 || !isWordCharacter(text[at - 1])) &&
            (end == text.size() || !isWordCharacter(text[end])))
            return true;
        from = at + 1;
    }
}

const Registry *registryNamedIn(QStringView text, const QString &asked, bool wholeValue)
{
    for (const Registry &registry : registries) {
        if (equalsCaseless(asked, QLatin1StringView(registry.host)))
            continue;
        if (text.contains(QLatin1String(registry.host), Qt::CaseInsensitive))
            return &registry;
        for (const char *name : registry.names) {
            if (!name)
                continue;
            if (namesWords(text, QLatin1StringView(name), wholeValue))
                return &registry;
        }
    }
    return nullptr;
}

} // namespace

std::optional<WhoisServer> parseWhoisServer(const QString &text)
{
    if (text.contains(u'/'))
        return std::nullopt;
    return parseAuthority(text.trimmed(), true);
}

QString WhoisServer::display() const
{
    if (port == 43)
        return host;
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
}

bool WhoisServer::operator==(const WhoisServer &other) const
{
    return port == other.port && host.compare(other.host, Qt::CaseInsensitive) == 0;
}

bool isRegionalRegistry(const QString &host)
{
    for (const Registry &registry : registries) {
        if (equalsCaseless(host, QLatin1StringView(registry.host)))
            return true;
    }
    return false;
}

WhoisReferral findReferral(const QString &text, const QString &askedHost)
{
    WhoisReferral referral;
    // The lines that give a label a value, read once; then taken label by label, most telling
    // first, each label's lines in record order.
    std::vector<LabelledLine> labelled;
    for (qsizetype begin = 0; begin <= text.size();) {
        qsizetype end = findChar(text, u'\n', begin);
        if (end < 0)
            end = text.size();
        const QStringView line = QStringView(text).sliced(begin, end - begin).trimmed();
        if (const std::optional<LabelledLine> found = labelledLine(line))
            labelled.push_back(*found);
        begin = end + 1;
    }
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const Label &label = labels[i];
        for (const LabelledLine &line : labelled) {
            if (line.label != i)
                continue;
            const QStringView value = line.value;
            std::optional<WhoisServer> server;
            if (value.startsWith(u"rwhois://", Qt::CaseInsensitive)) {
                if (referral.rwhois.isEmpty())
                    referral.rwhois = value.toString();
                continue;
            }
            if (value.startsWith(u"whois://", Qt::CaseInsensitive))
                server = parseAuthority(value.mid(8).toString(), true);
            else if (label.form == Form::Bare && !value.contains(u"://"))
                server = parseAuthority(value.toString(), false);
            if (server) {
                referral.next = server;
                referral.source = QLatin1String(label.name);
                return referral;
            }
        }
    }

    if (!isRegionalRegistry(askedHost))
        return referral;
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    // A registry's answer for a block another registry holds: a stub saying so, or a record
    // whose holder is that registry.
    for (QStringView line : lines) {
        for (const char *phrase : handOffPhrases) {
            if (!line.contains(QLatin1String(phrase), Qt::CaseInsensitive))
                continue;
            const Registry *target = registryNamedIn(line, askedHost, false);
            if (!target)
                target = registryNamedIn(text, askedHost, false);
            if (target) {
                referral.next = WhoisServer{QLatin1String(target->host)};
                referral.source = QLatin1String(phrase);
                return referral;
            }
        }
    }
    for (QStringView line : lines) {
        for (const char *label : holderLabels) {
            const QStringView value = valueOf(line.trimmed(), label);
            if (value.isEmpty())
                continue;
            if (const Registry *target = registryNamedIn(value, askedHost, true)) {
                referral.next = WhoisServer{QLatin1String(target->host)};
                referral.source = QLatin1String(label);
                return referral;
            }
        }
    }
    return referral;
}
