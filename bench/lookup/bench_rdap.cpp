// The RDAP source's own costs: reading and rendering a domain answer of about 5 KB, and the
// bootstrap look-ups against registries the size of IANA's.

#include "rdap/rdapanswer.h"
#include "rdap/rdapbootstrap.h"
#include "rdap/rdaprecord.h"
#include "rdap/rdaprender.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject fixtureObject(const char *name)
{
    QFile file(QStringLiteral(QUORVANE_TEST_FIXTURES "/rdap/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return QJsonDocument::fromJson(file.readAll()).object();
}

// A registry's domain answer with contacts, name servers and notices, about 5 KB.
QByteArray domainAnswer()
{
    QJsonObject answer = fixtureObject("domain_thin_registry.json");
    QJsonArray entities = answer.value(u"entities").toArray();
    for (const QJsonValue &entity :
         fixtureObject("domain_thick_idn.json").value(u"entities").toArray())
        entities.append(entity);
    answer.insert(u"entities", entities);
    QJsonArray notices = answer.value(u"notices").toArray();
    for (int i = 0; QJsonDocument(answer).toJson(QJsonDocument::Compact).size() < 5000; ++i) {
        notices.append(QJsonObject{
            {u"title"_qs, QStringLiteral("Notice %1").arg(i)},
            {u"description"_qs,
             QJsonArray{QStringLiteral("The data in this record is provided for information "
                                       "purposes only and may not be complete.")}}});
        answer.insert(u"notices", notices);
    }
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

void BM_ReadAndRenderDomain(benchmark::State &state)
{
    const QByteArray body = domainAnswer();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto _ : state) {
        const RdapAnswer answer =
            ReadRdapAnswer(RdapQueryKind::Domain, true, 200, body, QByteArray(), now);
        const QStringList lines = RenderRdap(answer.object);
        benchmark::DoNotOptimize(lines.size());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * body.size());
    state.counters["answer_bytes"] = double(body.size());
}
BENCHMARK(BM_ReadAndRenderDomain);

// What the RDAP source does with each answer: read it, then the record lines, their fields and
// the facts.
void BM_ReadAnswerToResult(benchmark::State &state)
{
    const QByteArray body = domainAnswer();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto _ : state) {
        const RdapAnswer answer =
            ReadRdapAnswer(RdapQueryKind::Domain, true, 200, body, QByteArray(), now);
        LookupResult result;
        setRdapRecord(result, answer.object);
        benchmark::DoNotOptimize(result.fields.size());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_ReadAnswerToResult);

QByteArray bootstrapFile(const QJsonArray &services)
{
    return QJsonDocument(QJsonObject{{u"version"_qs, u"1.0"_qs},
                                     {u"publication"_qs, u"2026-12-01T00:00:00Z"_qs},
                                     {u"services"_qs, services}})
        .toJson(QJsonDocument::Compact);
}

// Registries the size of IANA's: 1,500 TLDs, every /8 and a few hundred longer IPv4 prefixes,
// IPv6 prefixes of many lengths, 1,000 AS number ranges.
RdapBootstrap largeBootstrap()
{
    QJsonArray dns;
    for (int i = 0; i < 1500; ++i)
        dns.append(QJsonArray{QJsonArray{QStringLiteral("tld%1").arg(i)},
                              QJsonArray{QStringLiteral("https://rdap%1.test/").arg(i % 40)}});
    dns.append(QJsonArray{QJsonArray{u"com"_qs}, QJsonArray{u"https://com.test/"_qs}});
    QJsonArray v4;
    for (int i = 1; i < 224; ++i)
        v4.append(QJsonArray{QJsonArray{QStringLiteral("%1.0.0.0/8").arg(i)},
                             QJsonArray{u"https://v4.test/"_qs}});
    for (int i = 0; i < 300; ++i)
        v4.append(QJsonArray{
            QJsonArray{
                QStringLiteral("100.%1.%2.0/%3").arg(i / 4).arg((i % 4) * 64).arg(18 + i % 6)},
            QJsonArray{u"https://v4b.test/"_qs}});
    QJsonArray v6;
    for (int i = 0; i < 200; ++i)
        v6.append(QJsonArray{
            QJsonArray{QStringLiteral("2%1::/%2").arg(i, 3, 16, QLatin1Char('0')).arg(12 + i % 12)},
            QJsonArray{u"https://v6.test/"_qs}});
    QJsonArray asn;
    for (int i = 0; i < 1000; ++i)
        asn.append(
            QJsonArray{QJsonArray{QStringLiteral("%1-%2").arg(i * 400 + 1).arg(i * 400 + 300)},
                       QJsonArray{u"https://asn.test/"_qs}});
    RdapBootstrap bootstrap;
    if (!bootstrap.load(RdapRegistry::Dns, bootstrapFile(dns)) ||
        !bootstrap.load(RdapRegistry::Ipv4, bootstrapFile(v4)) ||
        !bootstrap.load(RdapRegistry::Ipv6, bootstrapFile(v6)) ||
        !bootstrap.load(RdapRegistry::Asn, bootstrapFile(asn)))
        qFatal("benchmark bootstrap rejected");
    return bootstrap;
}

void BM_BootstrapDomain(benchmark::State &state)
{
    const RdapBootstrap bootstrap = largeBootstrap();
    const QString name = QStringLiteral("www.shop.halloway-ferries.com");
    for (auto _ : state)
        benchmark::DoNotOptimize(bootstrap.domainServices(name));
}
BENCHMARK(BM_BootstrapDomain);

void BM_BootstrapIpv4(benchmark::State &state)
{
    const RdapBootstrap bootstrap = largeBootstrap();
    const IpAddress address = IpAddress::fromString(QStringLiteral("100.20.70.9"));
    for (auto _ : state)
        benchmark::DoNotOptimize(bootstrap.addressServices(address));
}
BENCHMARK(BM_BootstrapIpv4);

void BM_BootstrapIpv6(benchmark::State &state)
{
    const RdapBootstrap bootstrap = largeBootstrap();
    const IpAddress address = IpAddress::fromString(QStringLiteral("2a00:1450:4001:80b::200e"));
    for (auto _ : state)
        benchmark::DoNotOptimize(bootstrap.addressServices(address));
}
BENCHMARK(BM_BootstrapIpv6);

void BM_BootstrapAsn(benchmark::State &state)
{
    const RdapBootstrap bootstrap = largeBootstrap();
    quint32 n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bootstrap.asnServices(n));
        n = (n + 7919) % 400000;
    }
}
BENCHMARK(BM_BootstrapAsn);

} // namespace
