// Parsing and rendering whois pages of about 1 MiB: one per site layout, and the decoding of a
// page body.

#include "lookup/htmldocument.h"
#include "lookup/pagetext.h"

#include <benchmark/benchmark.h>

#include <QString>

namespace {

constexpr qsizetype kPageSize = qsizetype(1) << 20;

QString recordLine(int i)
{
    static const char *const names[] = {"Domain Name",
                                        "Registry Domain ID",
                                        "Registrar WHOIS Server",
                                        "Registrar URL",
                                        "Updated Date",
                                        "Creation Date",
                                        "Registrar",
                                        "Name Server",
                                        "Domain Status",
                                        "Registrant Organization"};
    return QLatin1String(names[i % 10]) + QStringLiteral(": value-") + QString::number(i) +
           QStringLiteral(".example.com 2024-08-14T07:01:34Z");
}

const QString kHead = QStringLiteral(
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Whois</title>"
    "<script>var x = 1;</script><style>pre{font-family:monospace}</style></head><body>"
    "<header><nav><a href=\"/\">Home</a> <a href=\"/whois/\">Whois</a></nav></header>");

// Option1: the record in a <pre>, entities here and there.
QString prePage()
{
    QString html = kHead + QStringLiteral("<main><pre class=\"df-raw\">\n");
    for (int i = 0; html.size() < kPageSize; ++i) {
        html += recordLine(i);
        html += i % 50 == 0 ? QStringLiteral(" &lt;&gt;&amp;\n") : QStringLiteral("\n");
    }
    return html + QStringLiteral("</pre></main></body></html>");
}

// Option2: record lines ended by <br>, indented, with a link now and then.
QString brPage()
{
    QString html = kHead + QStringLiteral("<div id=\"whoisRecordContainer\" class=\"raw\">\n");
    for (int i = 0; html.size() < kPageSize; ++i) {
        html += QStringLiteral("      ") + recordLine(i);
        html += i % 20 == 0 ? QStringLiteral(" <a href=\"https://icann.org/epp\">epp</a><br>\n")
                            : QStringLiteral("<br>\n");
    }
    return html + QStringLiteral("</div></body></html>");
}

// Option3: one table row per field, in the element "maincontent".
QString tablePage()
{
    QString html = kHead + QStringLiteral("<div id=\"maincontent\"><table class=\"record\">\n");
    for (int i = 0; html.size() < kPageSize; ++i) {
        html += QStringLiteral("<tr><td>") + QString::number(i) +
                QStringLiteral(" Field:</td><td>") + QStringLiteral("value-") + QString::number(i) +
                QStringLiteral(".example.com 2024-08-14T07:01:34Z registrar record</td></tr>\n");
    }
    return html + QStringLiteral("</table></div></body></html>");
}

void runRecordText(benchmark::State &state, const QString &html, Site site)
{
    const qint64 bytes = html.toUtf8().size();
    qsizetype length = 0;
    for (auto _ : state) {
        const QString text = RecordText(html, site);
        length = text.size();
        benchmark::DoNotOptimize(text.constData());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["text_chars"] = double(length);
}

void BM_RecordText_Option1Pre(benchmark::State &state)
{
    static const QString html = prePage();
    runRecordText(state, html, Site::Option1);
}
BENCHMARK(BM_RecordText_Option1Pre)->Unit(benchmark::kMillisecond);

void BM_RecordText_Option2Br(benchmark::State &state)
{
    static const QString html = brPage();
    runRecordText(state, html, Site::Option2);
}
BENCHMARK(BM_RecordText_Option2Br)->Unit(benchmark::kMillisecond);

void BM_RecordText_Option3Table(benchmark::State &state)
{
    static const QString html = tablePage();
    runRecordText(state, html, Site::Option3);
}
BENCHMARK(BM_RecordText_Option3Table)->Unit(benchmark::kMillisecond);

// The same pages with every character through the parser, for comparison.
void runPlain(benchmark::State &state, const QString &html, const char *tag, const QString &id)
{
    const qint64 bytes = html.toUtf8().size();
    for (auto _ : state) {
        const HtmlDocument document(html, {}, false);
        const QString text = document.innerText(id.isEmpty() ? document.firstElementByTagName(tag)
                                                             : document.elementById(id));
        benchmark::DoNotOptimize(text.constData());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_PlainParse_Option1Pre(benchmark::State &state)
{
    static const QString html = prePage();
    runPlain(state, html, "pre", {});
}
BENCHMARK(BM_PlainParse_Option1Pre)->Unit(benchmark::kMillisecond);

void BM_PlainParse_Option2Br(benchmark::State &state)
{
    static const QString html = brPage();
    runPlain(state, html, nullptr, QStringLiteral("whoisRecordContainer"));
}
BENCHMARK(BM_PlainParse_Option2Br)->Unit(benchmark::kMillisecond);

void BM_DecodePage_Utf8(benchmark::State &state)
{
    static const QByteArray body = prePage().toUtf8();
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePage(body, "text/html; charset=utf-8").constData());
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodePage_Utf8)->Unit(benchmark::kMillisecond);

void BM_DecodePage_Windows1252(benchmark::State &state)
{
    static const QByteArray body = prePage().toLatin1();
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePage(body, "text/html; charset=windows-1252").constData());
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodePage_Windows1252)->Unit(benchmark::kMillisecond);

void BM_DecodePage_Iso88592(benchmark::State &state)
{
    static const QByteArray body = prePage().toLatin1();
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePage(body, "text/html; charset=iso-8859-2").constData());
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodePage_Iso88592)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
