// IANA's answers kept on disk as a run meets new top-level domains one answer at a time: the
// whole cost of keeping n answers (asking the cache, writing, the cache going away), for n of
// 1,000 and 4,000. Time per answer stays flat when the cost is linear in n.
#include "lookup/query.h"
#include "whois/ianacache.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void keepAnswers(benchmark::State &state)
{
    const int n = int(state.range(0));
    QList<Query> queries;
    for (int i = 0; i < n; ++i)
        queries << parseQuery(QStringLiteral("name.t%1").arg(i));
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        state.ResumeTiming();
        {
            IanaCache cache(dir.path());
            for (const Query &query : std::as_const(queries)) {
                cache.get(
                    query,
                    [&query](const std::function<void(const WhoisReply &)> &answered) {
                        Whois43Answer answer;
                        answer.ok = true;
                        answer.bytes =
                            "% IANA WHOIS server\n\ndomain:       " + query.tld().toUpper() +
                            "\nrefer:        whois.nic." + query.tld() +
                            "\n\nstatus:       ACTIVE\n";
                        answered(answer);
                    },
                    [](const Result<IanaCache::Entry, LookupError> &) {});
                // Answers come one per turn of the event loop, as from servers.
                QCoreApplication::processEvents();
            }
        }
    }
    state.SetComplexityN(n);
    state.counters["per_answer_us"] = benchmark::Counter(
        double(n) * double(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

} // namespace

BENCHMARK(keepAnswers)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->Complexity();
