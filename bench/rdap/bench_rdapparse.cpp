// An RDAP answer from its bytes to the record lines, their fields and the facts, as the RDAP
// source makes them, against the Python peer reading the same bytes the way whoisit does
// (bench/peers/rdap_flat.py): a thick domain answer with its contacts, an RIR's IP network and
// an RIR's AS number, each the size such answers have (5 to 9 KB: notices, remarks, several
// entities with full jCards, nested abuse contacts).

#include "lookup/lookupresult.h"
#include "rdap/rdapanswer.h"
#include "rdap/rdaprecord.h"

#include "peer.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>

namespace {

QJsonArray property(const QString &name, const QJsonObject &parameters, const QJsonValue &value)
{
    return QJsonArray{name, parameters, QStringLiteral("text"), value};
}

// A contact as registries write them: name, organisation, postal address, phone, fax, email.
QJsonObject contact(const QString &handle, const QStringList &roles, const QString &name,
                    const QString &org)
{
    QJsonArray card{
        property(u"version"_qs, {}, u"4.0"_qs),
        property(u"fn"_qs, {}, name),
        property(u"org"_qs, {}, org),
        property(u"adr"_qs, QJsonObject{{u"cc"_qs, u"CA"_qs}},
                 QJsonArray{QString(), QString(),
                            QJsonArray{u"1200 Quayside Drive"_qs, u"Suite 400"_qs}, u"Halifax"_qs,
                            u"NS"_qs, u"B3J 2K9"_qs, u"Canada"_qs}),
        property(u"tel"_qs, QJsonObject{{u"type"_qs, u"voice"_qs}}, u"tel:+1.9025550142"_qs),
        property(u"tel"_qs, QJsonObject{{u"type"_qs, u"fax"_qs}}, u"tel:+1.9025550143"_qs),
        property(u"email"_qs, {}, QString(handle.toLower() + u"@halloway-ferries.test"_qs)),
    };
    return QJsonObject{
        {u"objectClassName"_qs, u"entity"_qs},
        {u"handle"_qs, handle},
        {u"roles"_qs, QJsonArray::fromStringList(roles)},
        {u"vcardArray"_qs, QJsonArray{u"vcard"_qs, card}},
        {u"events"_qs, QJsonArray{QJsonObject{{u"eventAction"_qs, u"last changed"_qs},
                                              {u"eventDate"_qs, u"2025-03-14T09:26:53Z"_qs}}}},
        {u"links"_qs, QJsonArray{QJsonObject{
                          {u"rel"_qs, u"self"_qs},
                          {u"href"_qs, QString(u"https://rdap.example.test/entity/"_qs + handle)},
                          {u"type"_qs, u"application/rdap+json"_qs}}}},
    };
}

QJsonObject abuse(const QString &handle)
{
    return QJsonObject{
        {u"objectClassName"_qs, u"entity"_qs},
        {u"handle"_qs, handle},
        {u"roles"_qs, QJsonArray{u"abuse"_qs}},
        {u"vcardArray"_qs,
         QJsonArray{u"vcard"_qs,
                    QJsonArray{property(u"version"_qs, {}, u"4.0"_qs),
                               property(u"fn"_qs, {}, u"Abuse Contact"_qs),
                               property(u"tel"_qs, QJsonObject{{u"type"_qs, u"voice"_qs}},
                                        u"tel:+1.9025550100"_qs),
                               property(u"email"_qs, {}, u"abuse@registrar.test"_qs)}}},
    };
}

QJsonArray events(std::initializer_list<std::pair<const char *, const char *>> list)
{
    QJsonArray array;
    for (const auto &[action, date] : list)
        array.append(QJsonObject{{u"eventAction"_qs, QLatin1String(action)},
                                 {u"eventDate"_qs, QLatin1String(date)}});
    return array;
}

// The notices registries repeat in every answer.
QJsonArray notices()
{
    const QString terms = u"Access to this registration data is provided for information purposes "
                          "only and is subject to the terms of use published by the registry; by "
                          "submitting a query you agree to abide by them."_qs;
    return QJsonArray{
        QJsonObject{
            {u"title"_qs, u"Terms of Use"_qs},
            {u"description"_qs, QJsonArray{terms, terms}},
            {u"links"_qs, QJsonArray{QJsonObject{{u"rel"_qs, u"terms-of-service"_qs},
                                                 {u"href"_qs, u"https://registry.test/terms"_qs},
                                                 {u"type"_qs, u"text/html"_qs}}}}},
        QJsonObject{{u"title"_qs, u"Status Codes"_qs},
                    {u"description"_qs,
                     QJsonArray{u"For more information on domain status codes, please visit "
                                "https://icann.org/epp"_qs}}},
        QJsonObject{
            {u"title"_qs, u"RDDS Inaccuracy Complaint Form"_qs},
            {u"description"_qs, QJsonArray{u"URL of the ICANN RDDS Inaccuracy Complaint Form: "
                                           "https://icann.org/wicf"_qs}}},
    };
}

QJsonObject domainAnswer()
{
    QJsonObject registrar = contact(u"1911"_qs, {u"registrar"_qs}, u"Quayside Names Inc."_qs,
                                    u"Quayside Names Inc."_qs);
    registrar.insert(u"publicIds"_qs, QJsonArray{QJsonObject{{u"type"_qs, u"IANA Registrar ID"_qs},
                                                             {u"identifier"_qs, u"1911"_qs}}});
    registrar.insert(u"entities"_qs, QJsonArray{abuse(u"ABUSE-1911"_qs)});
    QJsonArray nameservers;
    for (const char *ns : {"ns1.halloway-ferries.test", "ns2.halloway-ferries.test",
                           "ns3.dnsprovider.test", "ns4.dnsprovider.test"})
        nameservers.append(QJsonObject{{u"objectClassName"_qs, u"nameserver"_qs},
                                       {u"ldhName"_qs, QLatin1String(ns)}});
    return QJsonObject{
        {u"rdapConformance"_qs,
         QJsonArray{u"rdap_level_0"_qs, u"icann_rdap_technical_profile_level_0"_qs,
                    u"icann_rdap_response_profile_1"_qs}},
        {u"objectClassName"_qs, u"domain"_qs},
        {u"handle"_qs, u"2763384107_DOMAIN_COM-VRSN"_qs},
        {u"ldhName"_qs, u"halloway-ferries.test"_qs},
        {u"links"_qs,
         QJsonArray{QJsonObject{
             {u"rel"_qs, u"self"_qs},
             {u"href"_qs, u"https://rdap.registrar.test/domain/halloway-ferries.test"_qs},
             {u"type"_qs, u"application/rdap+json"_qs}}}},
        {u"status"_qs, QJsonArray{u"client delete prohibited"_qs, u"client transfer prohibited"_qs,
                                  u"client update prohibited"_qs}},
        {u"entities"_qs, QJsonArray{registrar,
                                    contact(u"C-REG-1"_qs, {u"registrant"_qs}, u"Mara Halloway"_qs,
                                            u"Halloway Ferries Ltd."_qs),
                                    contact(u"C-ADM-1"_qs, {u"administrative"_qs}, u"Jon Pell"_qs,
                                            u"Halloway Ferries Ltd."_qs),
                                    contact(u"C-TEC-1"_qs, {u"technical"_qs}, u"Hostmaster"_qs,
                                            u"DNS Provider Co."_qs)}},
        {u"events"_qs, events({{"registration", "2009-04-21T15:02:11Z"},
                               {"expiration", "2027-04-21T15:02:11Z"},
                               {"last changed", "2025-03-14T09:26:53Z"},
                               {"last update of RDAP database", "2026-12-07T21:40:00Z"}})},
        {u"secureDNS"_qs, QJsonObject{{u"delegationSigned"_qs, false}}},
        {u"nameservers"_qs, nameservers},
        {u"notices"_qs, notices()},
        {u"port43"_qs, u"whois.registrar.test"_qs},
    };
}

QJsonArray remarks(const QString &title, int lines)
{
    QJsonArray description;
    for (int i = 0; i < lines; ++i)
        description.append(QStringLiteral("Line %1 of the registry's remarks about this "
                                          "resource and how to report abuse from it.")
                               .arg(i + 1));
    return QJsonArray{QJsonObject{{u"title"_qs, title}, {u"description"_qs, description}}};
}

QJsonObject networkAnswer()
{
    QJsonObject org = contact(u"KSTR"_qs, {u"registrant"_qs}, u"Kestrel Data Systems"_qs,
                              u"Kestrel Data Systems"_qs);
    org.insert(u"entities"_qs,
               QJsonArray{abuse(u"ABUSE42-ARIN"_qs),
                          contact(u"NOC42-ARIN"_qs, {u"technical"_qs, u"noc"_qs},
                                  u"Network Operations"_qs, u"Kestrel Data Systems"_qs),
                          contact(u"ADM42-ARIN"_qs, {u"administrative"_qs}, u"Pat Kestrel"_qs,
                                  u"Kestrel Data Systems"_qs)});
    return QJsonObject{
        {u"rdapConformance"_qs,
         QJsonArray{u"nro_rdap_profile_0"_qs, u"rdap_level_0"_qs, u"cidr0"_qs}},
        {u"objectClassName"_qs, u"ip network"_qs},
        {u"handle"_qs, u"NET-198-51-100-0-1"_qs},
        {u"startAddress"_qs, u"198.51.100.0"_qs},
        {u"endAddress"_qs, u"198.51.101.255"_qs},
        {u"ipVersion"_qs, u"v4"_qs},
        {u"name"_qs, u"KESTREL-NET"_qs},
        {u"type"_qs, u"DIRECT ALLOCATION"_qs},
        {u"parentHandle"_qs, u"NET-198-0-0-0-0"_qs},
        {u"cidr0_cidrs"_qs,
         QJsonArray{QJsonObject{{u"v4prefix"_qs, u"198.51.100.0"_qs}, {u"length"_qs, 23}}}},
        {u"status"_qs, QJsonArray{u"active"_qs}},
        {u"remarks"_qs, remarks(u"Registration Comments"_qs, 6)},
        {u"events"_qs, events({{"last changed", "2024-02-10T17:22:08-05:00"},
                               {"registration", "2011-09-06T09:12:44-04:00"}})},
        {u"entities"_qs, QJsonArray{org}},
        {u"notices"_qs, notices()},
        {u"port43"_qs, u"whois.arin.net"_qs},
    };
}

QJsonObject autnumAnswer()
{
    QJsonObject holder = contact(u"ORG-KDS1-RIPE"_qs, {u"registrant"_qs},
                                 u"Kestrel Data Systems B.V."_qs, u"Kestrel Data Systems B.V."_qs);
    return QJsonObject{
        {u"rdapConformance"_qs, QJsonArray{u"nro_rdap_profile_asn_flat_0"_qs, u"rdap_level_0"_qs}},
        {u"objectClassName"_qs, u"autnum"_qs},
        {u"handle"_qs, u"AS64500"_qs},
        {u"startAutnum"_qs, 64500},
        {u"endAutnum"_qs, 64500},
        {u"name"_qs, u"KESTREL-AS"_qs},
        {u"type"_qs, u"DIRECT ALLOCATION"_qs},
        {u"country"_qs, u"NL"_qs},
        {u"status"_qs, QJsonArray{u"active"_qs}},
        {u"remarks"_qs, remarks(u"description"_qs, 8)},
        {u"entities"_qs, QJsonArray{holder, abuse(u"AR1-RIPE"_qs),
                                    contact(u"KDS-NOC"_qs, {u"technical"_qs}, u"Kestrel NOC"_qs,
                                            u"Kestrel Data Systems B.V."_qs),
                                    contact(u"KDS-ADM"_qs, {u"administrative"_qs},
                                            u"Kestrel Admin"_qs, u"Kestrel Data Systems B.V."_qs)}},
        {u"events"_qs, events({{"registration", "2004-11-02T10:01:12Z"},
                               {"last changed", "2025-06-30T08:12:40Z"}})},
        {u"notices"_qs, notices()},
        {u"port43"_qs, u"whois.ripe.net"_qs},
    };
}

enum Kind
{
    Domain,
    Network,
    Autnum
};

QByteArray answerOf(int kind)
{
    const QJsonObject object = kind == Domain    ? domainAnswer()
                               : kind == Network ? networkAnswer()
                                                 : autnumAnswer();
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

RdapQueryKind queryKindOf(int kind)
{
    return kind == Domain    ? RdapQueryKind::Domain
           : kind == Network ? RdapQueryKind::Address
                             : RdapQueryKind::AsNumber;
}

// Ours and the peer are timed in turns, a pass of Repeats answers each, Rounds times, and the
// best pass of each side is compared: on a machine shared with others, load that comes and goes
// falls on both sides alike, and the best pass is the one it spared.
constexpr int Rounds = 10;
constexpr int Repeats = 2000;

// Ours: read the answer, then the record lines, their fields and the facts, as the RDAP source
// does with every answer. The peer's processor time per answer is reported beside it.
void BM_RdapAnswerToResult(benchmark::State &state)
{
    const int kind = int(state.range(0));
    const QByteArray body = answerOf(kind);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    qsizetype fields = 0;
    const auto readOne = [&] {
        const RdapAnswer answer = ReadRdapAnswer(queryKindOf(kind), true, 200, body, {}, now);
        LookupResult result;
        setRdapRecord(result, answer.object, {}, RdapObjectKindAsked(queryKindOf(kind)));
        fields = result.fields.size();
        benchmark::DoNotOptimize(result.fields.size());
    };
    for (auto _ : state)
        readOne();
    if (fields < 10)
        return state.SkipWithError("the answer gave too few fields");
    state.SetItemsProcessed(state.iterations());
    state.counters["answer_bytes"] = double(body.size());
    state.counters["fields"] = double(fields);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("answer.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
        return state.SkipWithError("could not write the answer for the peer");
    file.close();
    double oursUs = 1e300;
    double peerUs = 1e300;
    for (int round = 0; round < Rounds; ++round) {
        const std::clock_t start = std::clock();
        for (int i = 0; i < Repeats; ++i)
            readOne();
        oursUs = std::min(oursUs, double(std::clock() - start) * 1e6 / CLOCKS_PER_SEC / Repeats);
        const auto peer = runPeer(QStringLiteral("rdap_flat.py"),
                                  {QStringLiteral("1"), QString::number(Repeats), path});
        if (!peer || peer->size() < 2)
            return state.SkipWithError("the peer did not run");
        peerUs = std::min(peerUs, peer->at(0) * 1e6);
    }
    state.counters["ours_us"] = oursUs;
    state.counters["peer_us"] = peerUs;
    state.counters["x_peer"] = peerUs / oursUs;
}
BENCHMARK(BM_RdapAnswerToResult)
    ->ArgName("kind")
    ->Arg(Domain)
    ->Arg(Network)
    ->Arg(Autnum)
    ->Unit(benchmark::kMicrosecond);

// The JSON parse alone: simdjson as the RDAP source now reads answers, Qt's parser as it did.
void BM_RdapParseOnly(benchmark::State &state)
{
    const QByteArray body = answerOf(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(RdapJson::parse(body).isObject());
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_RdapParseOnly)->ArgName("kind")->Arg(Domain)->Arg(Network)->Arg(Autnum);

void BM_QtParseOnly(benchmark::State &state)
{
    const QByteArray body = answerOf(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(body).isObject());
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_QtParseOnly)->ArgName("kind")->Arg(Domain)->Arg(Network)->Arg(Autnum);

} // namespace
