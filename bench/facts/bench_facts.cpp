// Normalising a typical port-43 record of about 3 KB: a thin registry answer followed by the
// registrar's, with the legal notice registries append; and an answer of the same size that
// holds no record, "not found" between terms of use, read by its message apart from its notice.
#include "facts/normaliser.h"

#include <benchmark/benchmark.h>

namespace {

QString typicalRecord()
{
    QString record =
        QStringLiteral("   Domain Name: SAMPLEWIDGETS.COM\r\n"
                       "   Registry Domain ID: 2233445_DOMAIN_COM-VRSN\r\n"
                       "   Registrar WHOIS Server: whois.registrar-two.test\r\n"
                       "   Registrar URL: http://www.registrar-two.test\r\n"
                       "   Updated Date: 2022-11-02T16:20:11Z\r\n"
                       "   Creation Date: 2010-06-01T12:00:00Z\r\n"
                       "   Registry Expiry Date: 2026-06-01T12:00:00Z\r\n"
                       "   Registrar: Registrar Two LLC\r\n"
                       "   Registrar IANA ID: 1234\r\n"
                       "   Registrar Abuse Contact Email: abuse@registrar-two.test\r\n"
                       "   Registrar Abuse Contact Phone: +1.4805550199\r\n"
                       "   Domain Status: clientTransferProhibited "
                       "https://icann.org/epp#clientTransferProhibited\r\n"
                       "   Name Server: DNS1.SAMPLEWIDGETS.COM\r\n"
                       "   Name Server: DNS2.SAMPLEWIDGETS.COM\r\n"
                       "   DNSSEC: unsigned\r\n"
                       ">>> Last update of whois database: 2024-05-01T10:11:12Z <<<\r\n\r\n"
                       "Domain Name: samplewidgets.com\r\n"
                       "Registrar Registration Expiration Date: 2026-06-01T05:00:00-07:00\r\n"
                       "Registrar: Registrar Two LLC\r\n"
                       "Registrant Organization: Sample Widgets Ltd\r\n"
                       "Registrant State/Province: IL\r\n"
                       "Registrant Country: US\r\n"
                       "Name Server: DNS1.SAMPLEWIDGETS.COM\r\n"
                       "Name Server: DNS2.SAMPLEWIDGETS.COM\r\n"
                       "DNSSEC: unsigned\r\n\r\n");
    const QString notice = QStringLiteral(
        "TERMS OF USE: You are not authorized to access or query our Whois database through "
        "the use of electronic processes that are high-volume and automated except as "
        "reasonably necessary to register domain names or modify existing registrations.\r\n");
    while (record.size() < 3000)
        record += notice;
    return record;
}

void BM_FactsFromText(benchmark::State &state)
{
    const QString record = typicalRecord();
    for (auto _ : state) {
        RecordFacts facts = factsFromText(record);
        benchmark::DoNotOptimize(facts);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * record.size() * 2);
}
BENCHMARK(BM_FactsFromText);

QString noRecordAnswer()
{
    QString answer = QStringLiteral(
        "% The WHOIS service of this registry is provided for information purposes only.\r\n"
        "% It is strictly forbidden to use it in a way that could jeopardise its stability,\r\n"
        "% for instance by excessive queries or by too many queries per second.\r\n%\r\n\r\n"
        "Domain not found.\r\n"
        ">>> Last update of whois database: 2024-05-01T10:11:12Z <<<\r\n\r\n");
    const QString notice = QStringLiteral(
        "TERMS OF USE: You are not authorized to access or query our Whois database through\r\n"
        "the use of electronic processes that are high-volume and automated except as\r\n"
        "reasonably necessary to register domain names or modify existing registrations.\r\n"
        "\r\n");
    while (answer.size() < 3000)
        answer += notice;
    return answer;
}

void BM_FactsFromTextNoRecord(benchmark::State &state)
{
    const QString answer = noRecordAnswer();
    for (auto _ : state) {
        RecordFacts facts = factsFromText(answer);
        benchmark::DoNotOptimize(facts);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * answer.size() * 2);
}
BENCHMARK(BM_FactsFromTextNoRecord);

} // namespace
