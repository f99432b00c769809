#include "whois/whoisservers.h"

#include "text/asciicase.h"

#include <array>

namespace WhoisServers {

namespace {

// "%s" stands for the ASCII form (for a network, its address without the length where the
// server only takes addresses); a null form means the default for that kind.
struct Habit
{
    const char *host;
    const char *domain;
    const char *ip;      // single addresses and networks
    const char *network; // networks, when different from `ip`
    const char *asNumber;
};

// Verisign (com, net): the "domain" keyword restricts the search to domain records, so a name
// server or registrar that shares the name is not listed instead. ARIN: "n +" asks for the
// network with its full details, "a +" for the AS number; ARIN takes an address, not a length.
// DENIC answers with domain data only for "-T dn" queries; "ace" returns names in A-label
// form. JPRS and JPNIC answer in English with "/e". The RIRs of the RIPE database family take
// AS numbers written "AS<n>".
constexpr std::array habits{
    Habit{"whois.verisign-grs.com", "domain %s", nullptr, nullptr, nullptr},
    Habit{"whois.arin.net", nullptr, "n + %s", "n + %a", "a + %n"},
    Habit{"whois.denic.de", "-T dn,ace %s", nullptr, nullptr, nullptr},
    Habit{"whois.jprs.jp", "%s/e", nullptr, nullptr, nullptr},
    Habit{"whois.nic.ad.jp", "%s/e", "%s/e", nullptr, "AS %n/e"},
    Habit{"whois.ripe.net", nullptr, nullptr, nullptr, "AS%n"},
    Habit{"whois.apnic.net", nullptr, nullptr, nullptr, "AS%n"},
    Habit{"whois.afrinic.net", nullptr, nullptr, nullptr, "AS%n"},
    Habit{"whois.lacnic.net", nullptr, nullptr, nullptr, "AS%n"},
    Habit{"whois.iana.org", nullptr, nullptr, nullptr, "AS%n"},
};

// %s: the ASCII form; %a: a network's address alone; %n: the AS number.
QByteArray fill(const char *form, const Query &query)
{
    // Most forms are "%s" alone: the other values are made only when the form asks for them.
    const QByteArrayView text(form);
    if (text == "%s")
        return query.ascii;
    QByteArray line = text.toByteArray();
    line.replace("%s", query.ascii);
    if (text.contains("%a"))
        line.replace("%a", query.address.toString().toLatin1());
    if (text.contains("%n"))
        line.replace("%n", QByteArray::number(query.asNumber));
    return line;
}

} // namespace

QString iana()
{
    return QStringLiteral("whois.iana.org");
}

QByteArray queryFor(const QString &server, const Query &query)
{
    const char *form = nullptr;
    for (const Habit &habit : habits) {
        if (!equalsCaseless(server, QLatin1StringView(habit.host)))
            continue;
        switch (query.kind) {
        case QueryKind::Domain:
            form = habit.domain;
            break;
        case QueryKind::IPv4:
        case QueryKind::IPv6:
            form = habit.ip;
            break;
        case QueryKind::Cidr:
            form = habit.network ? habit.network : habit.ip;
            break;
        case QueryKind::AsNumber:
            form = habit.asNumber;
            break;
        case QueryKind::Invalid:
            break;
        }
        break;
    }
    if (!form)
        form = query.kind == QueryKind::AsNumber ? "AS%n" : "%s";
    return fill(form, query);
}

QByteArray ianaQueryFor(const Query &query)
{
    if (query.kind == QueryKind::Domain)
        return query.tld();
    return queryFor(iana(), query);
}

} // namespace WhoisServers
