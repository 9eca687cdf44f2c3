// Reading a template NAME from a 16 MB template pool: the NAME cut into
// 2 million pieces by empty comments, and into as many pieces in and between
// CDATA sections, beside a plain NAME in a pool of the same size, in one run.
// Each iteration parses the pool (parse_xml_text) and joins the NAME
// (joined_child_texts), as the template listing and a restore read it.
//
//   element_text_bench [--benchmark_repetitions=N] [--benchmark_min_time=S]
//
// The ratio of each cut pool is its median wall-clock time over the plain
// pool's; the run fails when one is above 2, or when a row was not measured.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/support/measured_rows.h"
#include "opennebula/xml_access.h"

namespace {

namespace hx = hx_opennebula_common;

constexpr std::size_t kPoolSize = 16000000;
constexpr double kMaxRatio = 2.0;

struct Pool {
    std::string text;
    std::size_t name_size = 0;
};

// A pool of at least kPoolSize bytes whose NAME repeats `piece` (of
// `piece_text` text bytes) as often as it takes.
Pool make_pool(const std::string& piece, std::size_t piece_text)
{
    Pool pool;
    pool.text = "<VMTEMPLATE_POOL><VMTEMPLATE><ID>0</ID><NAME>";
    const std::string tail = "</NAME></VMTEMPLATE></VMTEMPLATE_POOL>";
    while (pool.text.size() + tail.size() < kPoolSize) {
        pool.text += piece;
        pool.name_size += piece_text;
    }
    pool.text += tail;
    return pool;
}

const Pool& pool_of(const std::string& kind)
{
    static const std::map<std::string, Pool> pools = {
        {"plain", make_pool("a", 1)},
        {"comments", make_pool("a<!---->", 1)},
        {"cdata", make_pool("a<![CDATA[b]]>", 2)},
    };
    return pools.at(kind);
}

void read_name(benchmark::State& state, const std::string& kind)
{
    const Pool& pool = pool_of(kind);
    std::string name;
    for (auto _ : state) {
        const hx::xml_document doc = hx::parse_xml_text(pool.text);
        if (!doc) {
            state.SkipWithError("the pool was not parsed");
            break;
        }
        name = hx::joined_child_texts(hx::first_child_element(xmlDocGetRootElement(doc.get()), "VMTEMPLATE"),
                                      "NAME");
        benchmark::DoNotOptimize(name.data());
    }
    if (!state.error_occurred() && name.size() != pool.name_size) {
        state.SkipWithError("the NAME was not read whole");
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pool.text.size()));
    state.SetLabel(std::to_string(pool.text.size()) + " bytes, NAME " + std::to_string(pool.name_size));
}

void BM_PlainName(benchmark::State& state)
{
    read_name(state, "plain");
}

void BM_NameCutByComments(benchmark::State& state)
{
    read_name(state, "comments");
}

void BM_NameCutByCdata(benchmark::State& state)
{
    read_name(state, "cdata");
}

BENCHMARK(BM_PlainName)->Unit(benchmark::kMillisecond)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_NameCutByComments)->Unit(benchmark::kMillisecond)->Repetitions(5)->UseRealTime();
BENCHMARK(BM_NameCutByCdata)->Unit(benchmark::kMillisecond)->Repetitions(5)->UseRealTime();

// The console report, the measured rows, and the median real time of each row.
class MedianReporter : public kevra_bench::RowReporter {
public:
    void ReportRuns(const std::vector<Run>& report) override
    {
        RowReporter::ReportRuns(report);
        for (const auto& run : report)
            if (!run.error_occurred && run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }

    std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!kevra_bench::no_unknown_arguments(argc, argv))
        return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const std::vector<std::string> rows = {"BM_PlainName", "BM_NameCutByComments", "BM_NameCutByCdata"};
    int status = kevra_bench::measured_status(rows, reporter.measured);
    const auto plain = reporter.medians.find("BM_PlainName");
    for (const std::string row : {"BM_NameCutByComments", "BM_NameCutByCdata"}) {
        const auto cut = reporter.medians.find(row);
        if (plain == reporter.medians.end() || cut == reporter.medians.end() || plain->second <= 0) {
            std::fprintf(stderr, "no ratio for %s: a median is missing (run with 2 or more repetitions)\n",
                         row.c_str());
            status = 1;
            continue;
        }
        const double ratio = cut->second / plain->second;
        const bool met = ratio <= kMaxRatio;
        std::printf("%s / BM_PlainName: ratio %.2f (target: at most %.1f) %s\n", row.c_str(), ratio, kMaxRatio,
                    met ? "met" : "NOT met");
        if (!met)
            status = 1;
    }
    return status;
}
