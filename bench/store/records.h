#pragma once

// Registry answers for the store's benchmarks, about 2 KB each, in the layout gTLD registries
// and registrars use: the record's fields, contacts mostly withheld, and a long notice that
// each registry repeats in every answer. Names, registrars, dates and name servers vary from
// answer to answer as they do between real domains. The notices are this project's own text.

#include "facts/recordfacts.h"
#include "lookup/lookupresult.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace BenchRecords {

// A small, fast, repeatable generator.
inline std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

inline QByteArray word(std::uint64_t seed, int length)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz";
    QByteArray out(length, 'a');
    for (int i = 0; i < length; ++i) {
        seed = mix(seed);
        out[i] = letters[seed % 26];
    }
    return out;
}

inline const std::array<QByteArray, 5> &notices()
{
    static const std::array<QByteArray, 5> texts = [] {
        std::array<QByteArray, 5> out;
        const char *subjects[] = {"this registry", "the operator of this service",
                                  "the registry operator", "the database owner",
                                  "the provider of this data"};
        for (int r = 0; r < 5; ++r) {
            const QByteArray who = subjects[r];
            out[size_t(r)] =
                "NOTICE: The data in this record is provided by " + who +
                " for information purposes only, to help people find out about the holder of a "
                "domain name registration. " +
                who +
                " does not guarantee its accuracy. By submitting a query you agree to use the "
                "data only for lawful purposes and that under no circumstances will you use it "
                "to allow, enable or otherwise support the transmission of mass unsolicited "
                "commercial advertising or solicitations by e-mail, telephone or facsimile, or "
                "to enable high volume automated processes that send queries to the systems of " +
                who +
                " or of any registrar, except as reasonably necessary to register domain names "
                "or modify existing registrations. Compilation, repackaging, dissemination or "
                "other use of this data is expressly prohibited without the prior written "
                "consent of " +
                who +
                ". The operator reserves the right to modify these terms at any time and to "
                "restrict access to this service for anyone who does not follow them.\r\n"
                "For more information on domain status codes, please visit "
                "https://icann.org/epp\r\n"
                "URL of the ICANN Whois Inaccuracy Complaint Form: https://www.icann.org/wicf/\r\n";
        }
        return out;
    }();
    return texts;
}

struct Record
{
    QByteArray text;
    RecordFacts facts;
};

// The answer for domain `i`. `change` makes a later answer of the same domain: 0 the same
// record, otherwise another registrar and a renewed expiry for about a third of the domains.
// `stamp` is the database's update time at the end of the answer, different every day.
inline Record make(std::uint64_t i, int change, const QByteArray &stamp)
{
    const std::uint64_t seed = mix(i * 7919 + 17);
    const bool changed = change != 0 && seed % 3 == 0;
    const int registry = int(seed % 5);
    const int registrar = int((mix(seed + 1) + (changed ? 7 : 0)) % 200);
    const QByteArray name =
        word(seed, 6 + int(seed % 9)) + QByteArray::number(i) + ".t" + QByteArray::number(registry);
    const int year = 2026 + int(mix(seed + 2) % 4) + (changed ? 1 : 0);
    const int month = 1 + int(mix(seed + 3) % 12), day = 1 + int(mix(seed + 4) % 28);
    const QByteArray expires = QByteArray::number(year) + '-' +
                               QByteArray::number(month).rightJustified(2, '0') + '-' +
                               QByteArray::number(day).rightJustified(2, '0') + "T04:00:00Z";
    const QByteArray created = QByteArray::number(1998 + int(mix(seed + 5) % 26)) + "-0" +
                               QByteArray::number(1 + int(mix(seed + 6) % 9)) + "-1" +
                               QByteArray::number(int(mix(seed + 7) % 10)) + "T12:00:00Z";
    const QByteArray registrarName =
        "Registrar " + word(mix(registrar), 8) + " " + word(mix(registrar + 99), 5) + " LLC";
    const QByteArray registrarId = QByteArray::number(1000 + registrar);
    const QByteArray dnsHost = word(mix(seed + 8), 5 + int(seed % 4)) + ".net";
    const bool hold = mix(seed + 9) % 10 == 0;
    QByteArray t;
    t.reserve(2300);
    t += "Domain Name: " + name.toUpper() + "\r\n";
    t += "Registry Domain ID: " + QByteArray::number(seed % 100000000000ull) + "_DOMAIN_T" +
         QByteArray::number(registry) + "-VRSN\r\n";
    t += "Registrar WHOIS Server: whois." + word(mix(registrar), 8) + ".com\r\n";
    t += "Registrar URL: http://www." + word(mix(registrar), 8) + ".com\r\n";
    t += "Updated Date: 2025-" + QByteArray::number(10 + int(mix(seed + 10) % 3)) + "-0" +
         QByteArray::number(1 + int(mix(seed + 11) % 9)) + "T08:15:22Z\r\n";
    t += "Creation Date: " + created + "\r\n";
    t += "Registry Expiry Date: " + expires + "\r\n";
    t += "Registrar: " + registrarName + "\r\n";
    t += "Registrar IANA ID: " + registrarId + "\r\n";
    t += "Registrar Abuse Contact Email: abuse@" + word(mix(registrar), 8) + ".com\r\n";
    t += "Registrar Abuse Contact Phone: +1." + QByteArray::number(2000000000 + registrar * 7) +
         "\r\n";
    t += "Domain Status: clientTransferProhibited "
         "https://icann.org/epp#clientTransferProhibited\r\n";
    if (hold)
        t += "Domain Status: clientHold https://icann.org/epp#clientHold\r\n";
    for (const char *role : {"Registrant", "Admin", "Tech"}) {
        t += QByteArray(role) + " Name: REDACTED FOR PRIVACY\r\n";
        t += QByteArray(role) + " Organization: " +
             (role[0] == 'R' ? word(mix(seed + 12), 7) + " Holdings" : QByteArray()) + "\r\n";
        t += QByteArray(role) + " Street: REDACTED FOR PRIVACY\r\n";
        t += QByteArray(role) + " City: REDACTED FOR PRIVACY\r\n";
        t += QByteArray(role) + " State/Province: " + word(mix(seed + 13), 2).toUpper() + "\r\n";
        t += QByteArray(role) + " Postal Code: REDACTED FOR PRIVACY\r\n";
        t += QByteArray(role) + " Country: US\r\n";
        t += QByteArray(role) + " Phone: REDACTED FOR PRIVACY\r\n";
        t += QByteArray(role) +
             " Email: Please query the RDDS service of the Registrar of Record identified in "
             "this output for information on how to contact the Registrant, Admin, or Tech "
             "contact of the queried domain name.\r\n";
    }
    t += "Name Server: NS1." + dnsHost.toUpper() + "\r\n";
    t += "Name Server: NS2." + dnsHost.toUpper() + "\r\n";
    t += "DNSSEC: unsigned\r\n";
    t += ">>> Last update of WHOIS database: " + stamp + " <<<\r\n\r\n";
    t += notices()[size_t(registry)];

    Record r;
    r.text = t;
    r.facts.status = RecordStatus::Registered;
    r.facts.registrar = QString::fromLatin1(registrarName);
    r.facts.registrarIanaId = QString::fromLatin1(registrarId);
    r.facts.created = QString::fromLatin1(created);
    r.facts.expires = QString::fromLatin1(expires);
    r.facts.nameServers = {QStringLiteral("ns1.") + QString::fromLatin1(dnsHost),
                           QStringLiteral("ns2.") + QString::fromLatin1(dnsHost)};
    r.facts.domainStatus = {QStringLiteral("clientTransferProhibited")};
    if (hold)
        r.facts.domainStatus << QStringLiteral("clientHold");
    r.facts.dnssec = QStringLiteral("unsigned");
    return r;
}

inline QString address(std::uint64_t i)
{
    const std::uint64_t seed = mix(i * 7919 + 17);
    return QString::fromLatin1(word(seed, 6 + int(seed % 9)) + QByteArray::number(i) + ".t" +
                               QByteArray::number(int(seed % 5)));
}

} // namespace BenchRecords
