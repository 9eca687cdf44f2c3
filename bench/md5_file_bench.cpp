// The file MD5 of an image (its whole content through 4096-byte reads) beside
// the md5sum tool on the same 1 GiB file, which both find in the page cache.
// The file is written once in the temporary folder (TMPDIR) and removed at the
// end; set KEVRA_MD5_BENCH_FILE to use an existing file instead.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/measured_rows.h"
#include "common/hx_logger.h"
#include "opennebula/file_md5.h"

namespace {

constexpr std::size_t kFileSize = std::size_t(1) << 30;

std::string g_path;
bool g_owned = false;

bool make_file(const std::string& path)
{
    std::ofstream out(path, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    unsigned state = 12345;
    for (std::size_t written = 0; written < kFileSize && out; written += chunk.size()) {
        for (char& c : chunk) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 16);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    return static_cast<bool>(out);
}

// Runs md5sum on the file; the digest it printed, empty on failure.
std::string md5sum_tool(const std::string& path)
{
    const std::string command = "/usr/bin/md5sum '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::string();
    char line[256] = {0};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    return read ? std::string(line, 32) : std::string();
}

void BM_ImageFileMd5(benchmark::State& state)
{
    std::string digest;
    for (auto _ : state) {
        if (hx_opennebula_common::calc_md5sum(g_path, digest) != 0) {
            state.SkipWithError("calc_md5sum failed");
            break;
        }
        benchmark::DoNotOptimize(digest.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
    state.SetLabel(digest);
}

void BM_Md5sumTool(benchmark::State& state)
{
    std::string digest;
    for (auto _ : state) {
        digest = md5sum_tool(g_path);
        if (digest.empty()) {
            state.SkipWithError("md5sum failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
    state.SetLabel(digest);
}

// Alternating runs, so that both see the same machine state.
BENCHMARK(BM_ImageFileMd5)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_Md5sumTool)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string stem = std::string(tmp != nullptr ? tmp : "/tmp") + "/kevra-md5-bench-" + std::to_string(::getpid());
    // Keep the logging configuration of the host untouched.
    const std::string log_config = stem + ".logger.config";
    HxLogStream::set_config_path(log_config);
    benchmark::Initialize(&argc, argv);
    if (!kevra_bench::no_unknown_arguments(argc, argv))
        return 1;
    if (const char* given = std::getenv("KEVRA_MD5_BENCH_FILE")) {
        g_path = given;
    } else {
        g_path = stem;
        g_owned = true;
        if (!make_file(g_path)) {
            std::fprintf(stderr, "cannot write %s\n", g_path.c_str());
            std::remove(g_path.c_str());
            return 1;
        }
    }
    // One read to bring the file into the page cache.
    md5sum_tool(g_path);
    kevra_bench::RowReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (g_owned)
        std::remove(g_path.c_str());
    std::remove(log_config.c_str());
    return kevra_bench::measured_status({"BM_ImageFileMd5", "BM_Md5sumTool"}, reporter.measured);
}
