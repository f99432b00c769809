// Parsing and rendering whois pages of about 1 MiB: one per site layout, and the decoding of a
// page body.

#include "web/htmldocument.h"
#include "web/pagetext.h"

#include "peer.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QString>

#include <ctime>

namespace {

constexpr qsizetype kPageSize = qsizetype(1) << 20;
// The pages measured against the peer: 8 MB each.
constexpr qsizetype kBigPageSize = qsizetype(8) << 20;

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
QString prePage(qsizetype size = kPageSize)
{
    QString html = kHead + QStringLiteral("<main><pre class=\"df-raw\">\n");
    for (int i = 0; html.size() < size; ++i) {
        html += recordLine(i);
        html += i % 50 == 0 ? QStringLiteral(" &lt;&gt;&amp;\n") : QStringLiteral("\n");
    }
    return html + QStringLiteral("</pre></main></body></html>");
}

// Option2: record lines ended by <br>, indented, with a link now and then.
QString brPage(qsizetype size = kPageSize)
{
    QString html = kHead + QStringLiteral("<div id=\"whoisRecordContainer\" class=\"raw\">\n");
    for (int i = 0; html.size() < size; ++i) {
        html += QStringLiteral("      ") + recordLine(i);
        html += i % 20 == 0 ? QStringLiteral(" <a href=\"https://icann.org/epp\">epp</a><br>\n")
                            : QStringLiteral("<br>\n");
    }
    return html + QStringLiteral("</div></body></html>");
}

// Option3: one table row per field, in the element "maincontent".
QString tablePage(qsizetype size = kPageSize)
{
    QString html = kHead + QStringLiteral("<div id=\"maincontent\"><table class=\"record\">\n");
    for (int i = 0; html.size() < size; ++i) {
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

// The whole way from the page body to the record text, as the fetcher goes (decoding, parsing,
// rendering), for an 8 MB page; then the Python peer (lxml's text_content()) on the same bytes,
// read from a file. Both in processor time; "peer_ratio" is the peer's time over ours.
double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void runAgainstPeer(benchmark::State &state, const QByteArray &body, Site site, const char *kind)
{
    double best = 1e9;
    qsizetype length = 0;
    for (auto _ : state) {
        const double start = processSeconds();
        const std::optional<QByteArray> text =
            TryRecordTextUtf8(DecodePageUtf8(body, "text/html; charset=utf-8"), site);
        best = std::min(best, processSeconds() - start);
        length = text ? text->size() : -1;
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
    state.counters["best_cpu_ms"] = best * 1e3;
    state.counters["text_bytes"] = double(length);
    const QString path =
        QDir::temp().filePath(QStringLiteral("quorvane-bench-%1.html").arg(QLatin1String(kind)));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size()) {
        state.SkipWithError("cannot write the page for the peer");
        return;
    }
    file.close();
    const auto peer =
        runPeer(QStringLiteral("lxml_text.py"), {path, QLatin1String(kind), QStringLiteral("3")});
    QFile::remove(path);
    if (!peer || peer->empty()) {
        state.SkipWithError("the peer (python3 with lxml) did not run");
        return;
    }
    state.counters["peer_cpu_ms"] = peer->at(0) * 1e3;
    state.counters["peer_ratio"] = peer->at(0) / best;
}

void BM_Page8MB_Pre(benchmark::State &state)
{
    static const QByteArray body = prePage(kBigPageSize).toUtf8();
    runAgainstPeer(state, body, Site::Option1, "pre");
}
BENCHMARK(BM_Page8MB_Pre)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Page8MB_Br(benchmark::State &state)
{
    static const QByteArray body = brPage(kBigPageSize).toUtf8();
    runAgainstPeer(state, body, Site::Option2, "whoisRecordContainer");
}
BENCHMARK(BM_Page8MB_Br)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Page8MB_Table(benchmark::State &state)
{
    static const QByteArray body = tablePage(kBigPageSize).toUtf8();
    runAgainstPeer(state, body, Site::Option3, "maincontent");
}
BENCHMARK(BM_Page8MB_Table)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
