// Throughput of the hash functions beside OpenSSL on the same machine, in one run.
//
// Our side runs in this process. OpenSSL picks its SHA-256 code path once,
// when libcrypto loads, from the OPENSSL_ia32cap environment variable, so each
// OpenSSL path runs in a child: this program started again with the variable
// set for that path (unset for OpenSSL's default), reporting through a pipe.
// To keep the comparison fair on a busy machine, the run is made of rounds;
// in every round each OpenSSL path is measured right after our functions that
// are compared with it. The table gives medians over the rounds, and the
// ratio is the median of the per-round ratios with its lowest and highest.
//
//   hash_bench [--rounds=N] [--benchmark_min_time=S]
//
// MB/s are 10^6 bytes per second of CPU time; N is 5 unless given.

#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/measured_rows.h"
#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/cpuinfo.h"
#include "crypto/hxcrypto/crypto_hash.h"
#include "crypto/hxcrypto/hmac.h"
#include "crypto/hxcrypto/md5.h"
#include "crypto/hxcrypto/sha256.h"

namespace {

using hxcrypto::sha256_kernel;

const size_t kSizes[] = {16 * 1024, 1024 * 1024};

std::string size_label(size_t n) { return n >= 1024 * 1024 ? std::to_string(n >> 20) + "MiB" : std::to_string(n >> 10) + "KiB"; }

const std::vector<unsigned char>& buffer(size_t n) {
    static std::map<size_t, std::vector<unsigned char>> buffers;
    auto& b = buffers[n];
    if (b.empty()) {
        std::mt19937 gen(1);
        b.resize(n);
        for (auto& c : b)
            c = static_cast<unsigned char>(gen());
    }
    return b;
}

const std::string& hmac_key() {
    static const std::string key(kelvomar::kKeyedHashKey, sizeof kelvomar::kKeyedHashKey - 1);
    return key;
}

// ---- OpenSSL code paths ------------------------------------------------------

struct OpensslPath {
    const char* name;
    const char* ia32cap;  // nullptr: variable unset (OpenSSL's own choice)
    const char* what;
};

// Bit 29 of the second word is the SHA extensions, bit 5 AVX2; the first word's
// bit 60 is AVX, masked for the SSSE3 path so that an Intel processor (where
// OpenSSL prefers AVX over SSSE3) runs the SSSE3 code as well. An empty value
// switches every processor-specific path off.
const OpensslPath kPaths[] = {
    {"default", nullptr, "OpenSSL's own choice (SHA extensions where present)"},
    {"avx2", ":~0x20000000", "SHA extensions off: AVX2+BMI2 code"},
    {"ssse3", "~0x1000000000000000:~0x20000020", "SHA extensions, AVX2 and AVX off: SSSE3 code"},
    {"generic", "", "every fast path off: integer code"},
};

using OpensslRun = std::function<void(benchmark::State&, size_t)>;

void openssl_digest(benchmark::State& state, size_t n, const char* algorithm) {
    EVP_MD* md = EVP_MD_fetch(nullptr, algorithm, nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const auto& data = buffer(n);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, data.data(), n);
        EVP_DigestFinal_ex(ctx, out, &len);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}

void openssl_hmac_sha256(benchmark::State& state, size_t n) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    char digest_name[] = "SHA256";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest_name, 0),
                           OSSL_PARAM_construct_end()};
    // Keyed once, like our object; each MAC then restarts with the same key.
    EVP_MAC_init(ctx, reinterpret_cast<const unsigned char*>(hmac_key().data()), hmac_key().size(), params);
    const auto& data = buffer(n);
    unsigned char out[EVP_MAX_MD_SIZE];
    size_t len = 0;
    for (auto _ : state) {
        EVP_MAC_init(ctx, nullptr, 0, nullptr);
        EVP_MAC_update(ctx, data.data(), n);
        EVP_MAC_final(ctx, out, &len, sizeof out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
}

struct OpensslAlgorithm {
    const char* name;
    OpensslRun run;
};

const std::vector<OpensslAlgorithm>& openssl_algorithms() {
    static const std::vector<OpensslAlgorithm> a = {
        {"SHA-256", [](benchmark::State& s, size_t n) { openssl_digest(s, n, "SHA256"); }},
        {"MD5", [](benchmark::State& s, size_t n) { openssl_digest(s, n, "MD5"); }},
        {"HMAC-SHA256", openssl_hmac_sha256},
    };
    return a;
}

std::string openssl_key(const std::string& path, const std::string& algorithm, size_t n) {
    return "openssl/" + path + "/" + algorithm + "/" + size_label(n);
}

// ---- Our side ----------------------------------------------------------------

struct Row {
    std::string name;            // what of ours is measured
    bool runnable;               // this processor can run it
    std::function<hxcrypto::crypto_hash*()> make;
    const char* openssl_path;    // the matching OpenSSL path
    const char* openssl_algorithm;
    double target;               // required ratio, 0 for none
};

std::vector<Row> rows() {
    using hxcrypto::cpu_info;
    const bool rorx = cpu_info::avx2() && cpu_info::bmi2() && cpu_info::os_saves_ymm() && cpu_info::sse41();
    auto kernel = [](sha256_kernel k) { return [k] { return static_cast<hxcrypto::crypto_hash*>(new hxcrypto::sha256(k)); }; };
    return {
        {"SHA-256 sha256_rorx", rorx, kernel(sha256_kernel::rorx), "avx2", "SHA-256", 0.95},
        {"SHA-256 sha256_sse4", cpu_info::sse41(), kernel(sha256_kernel::sse4), "ssse3", "SHA-256", 0.95},
        {"SHA-256 X86_SHA256_HashBlocks", cpu_info::sse2(), kernel(sha256_kernel::sse2), "generic", "SHA-256", 0},
        {"SHA-256 portable", true, kernel(sha256_kernel::portable), "generic", "SHA-256", 0.90},
        {"SHA-256 via crypto_hash", true, [] { return static_cast<hxcrypto::crypto_hash*>(new hxcrypto::sha256()); },
         "avx2", "SHA-256", 0},
        {"SHA-256 via crypto_hash", true, [] { return static_cast<hxcrypto::crypto_hash*>(new hxcrypto::sha256()); },
         "default", "SHA-256", 0},
        {"MD5", true, [] { return static_cast<hxcrypto::crypto_hash*>(new hxcrypto::md5()); }, "default", "MD5", 0.95},
        {"HMAC-SHA256", true,
         [] { return static_cast<hxcrypto::crypto_hash*>(new hxcrypto::hmac(hxcrypto::sha256(), hmac_key())); },
         "avx2", "HMAC-SHA256", 0},
        {"HMAC-SHA256", true,
         [] { return static_cast<hxcrypto::crypto_hash*>(new hxcrypto::hmac(hxcrypto::sha256(), hmac_key())); },
         "default", "HMAC-SHA256", 0},
    };
}

std::string our_key(const std::string& row, size_t n) { return "ours/" + row + "/" + size_label(n); }

void ours(benchmark::State& state, const std::function<hxcrypto::crypto_hash*()>& make, size_t n) {
    std::unique_ptr<hxcrypto::crypto_hash> h(make());
    const auto& data = buffer(n);
    unsigned char out[64];
    for (auto _ : state) {
        h->hash_string(data.data(), n, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// ---- Collecting results ------------------------------------------------------

// Keeps bytes per second of each benchmark run by name; prints nothing.
class Collector : public benchmark::BenchmarkReporter {
public:
    std::map<std::string, double> bytes_per_second;

    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& report) override {
        for (const auto& run : report) {
            auto it = run.counters.find("bytes_per_second");
            if (!run.error_occurred && run.run_type == Run::RT_Iteration && it != run.counters.end())
                bytes_per_second[run.run_name.function_name] = it->second.value;
        }
    }
};

// Starts this program again for one OpenSSL path and reads back its results.
bool run_openssl_child(const OpensslPath& path, const std::vector<std::string>& bench_flags,
                       std::map<std::string, double>& results) {
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        if (path.ia32cap)
            setenv("OPENSSL_ia32cap", path.ia32cap, 1);
        else
            unsetenv("OPENSSL_ia32cap");
        std::vector<std::string> args = {"hash_bench", std::string("--openssl-path=") + path.name};
        args.insert(args.end(), bench_flags.begin(), bench_flags.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(fds[1]);
    FILE* in = fdopen(fds[0], "r");
    char line[512];
    while (in && std::fgets(line, sizeof line, in)) {
        char name[400];
        double value = 0;
        if (std::sscanf(line, "RESULT %399s %lf", name, &value) == 2)
            results[name] = value;
    }
    if (in)
        std::fclose(in);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string processor_name() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 10, "model name") == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

// Child: measures OpenSSL's algorithms on the path this process was started
// with (the environment already holds its OPENSSL_ia32cap).
int child_main(const std::string& path, int argc, char** argv) {
    for (const auto& a : openssl_algorithms())
        for (size_t n : kSizes)
            benchmark::RegisterBenchmark(openssl_key(path, a.name, n).c_str(),
                                         [run = a.run, n](benchmark::State& s) { run(s, n); });
    benchmark::Initialize(&argc, argv);
    Collector c;
    benchmark::RunSpecifiedBenchmarks(&c);
    for (const auto& r : c.bytes_per_second)
        std::printf("RESULT %s %.6f\n", r.first.c_str(), r.second);
    return 0;
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Benchmark names as a regular expression that matches them exactly.
std::string exact_names(const std::vector<std::string>& names) {
    std::string re = "^(";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i)
            re += "|";
        for (char ch : names[i]) {
            if (std::strchr(".^$|()[]{}*+?\\", ch))
                re += '\\';
            re += ch;
        }
    }
    return re + ")$";
}

std::string fixed(double v, int digits) {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(digits);
    s << v;
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string child_flag = "--openssl-path=";
    const std::string rounds_flag = "--rounds=";
    int rounds = 5;
    std::vector<std::string> passed_on;  // benchmark flags the children get too
    std::vector<std::string> args = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.compare(0, child_flag.size(), child_flag) == 0)
            return child_main(a.substr(child_flag.size()), argc, argv);
        if (a.compare(0, rounds_flag.size(), rounds_flag) == 0) {
            rounds = std::max(1, std::atoi(a.c_str() + rounds_flag.size()));
            continue;
        }
        if (a.compare(0, 12, "--benchmark_") == 0 && a.compare(0, 19, "--benchmark_filter=") != 0)
            passed_on.push_back(a);
        args.push_back(a);
    }
    std::vector<char*> our_argv;
    for (auto& a : args)
        our_argv.push_back(&a[0]);
    int our_argc = static_cast<int>(our_argv.size());
    our_argv.push_back(nullptr);

    const auto all_rows = rows();
    std::map<std::string, bool> registered;
    for (const auto& row : all_rows) {
        if (!row.runnable || registered[row.name])
            continue;
        registered[row.name] = true;
        for (size_t n : kSizes)
            benchmark::RegisterBenchmark(our_key(row.name, n).c_str(),
                                         [make = row.make, n](benchmark::State& s) { ours(s, make, n); });
    }
    benchmark::Initialize(&our_argc, our_argv.data());
    if (!kevra_bench::no_unknown_arguments(our_argc, our_argv.data()))
        return 1;

    // samples[key][round]
    std::map<std::string, std::vector<double>> samples;
    for (int r = 0; r < rounds; ++r) {
        for (const auto& path : kPaths) {
            std::vector<std::string> ours_here, theirs_here;
            for (const auto& row : all_rows) {
                if (row.openssl_path != std::string(path.name) || !row.runnable)
                    continue;
                for (size_t n : kSizes) {
                    ours_here.push_back(our_key(row.name, n));
                    theirs_here.push_back(openssl_key(path.name, row.openssl_algorithm, n));
                }
            }
            if (ours_here.empty())
                continue;
            std::cerr << "round " << r + 1 << "/" << rounds << ", OpenSSL path " << path.name << std::endl;
            Collector c;
            benchmark::RunSpecifiedBenchmarks(&c, exact_names(ours_here));
            std::map<std::string, double> theirs;
            auto flags = passed_on;
            flags.push_back("--benchmark_filter=" + exact_names(theirs_here));
            if (!run_openssl_child(path, flags, theirs))
                std::cerr << "OpenSSL run for path " << path.name << " failed" << std::endl;
            // Our figure is kept per comparison, so that each ratio pairs
            // measurements taken side by side.
            for (size_t i = 0; i < ours_here.size(); ++i) {
                const auto o = c.bytes_per_second.find(ours_here[i]);
                const auto t = theirs.find(theirs_here[i]);
                if (o == c.bytes_per_second.end() || t == theirs.end())
                    continue;
                samples["ours " + ours_here[i] + " vs " + theirs_here[i]].push_back(o->second);
                samples["theirs " + ours_here[i] + " vs " + theirs_here[i]].push_back(t->second);
                samples["ratio " + ours_here[i] + " vs " + theirs_here[i]].push_back(o->second / t->second);
            }
        }
    }

    std::cout << "\nProcessor: " << processor_name() << "\n"
              << "OpenSSL: " << OpenSSL_version(OPENSSL_VERSION) << "\n"
              << "Our SHA-256 block function on this processor: "
              << hxcrypto::sha256_kernel_name(hxcrypto::sha256().kernel()) << "\n"
              << "Rounds: " << rounds << "\n\n"
              << "| Ours | Size | Ours MB/s | OpenSSL path | OpenSSL MB/s | Ratio | Ratio range | Target |\n"
              << "|---|---|---:|---|---:|---:|---|---|\n";
    bool all_met = true;
    std::vector<std::string> expected;  // the rows this processor offers
    std::set<std::string> measured;
    for (const auto& row : all_rows) {
        for (size_t n : kSizes) {
            const std::string pair = our_key(row.name, n) + " vs " + openssl_key(row.openssl_path, row.openssl_algorithm, n);
            const auto& ratios = samples["ratio " + pair];
            if (row.runnable)
                expected.push_back(pair);
            if (!ratios.empty())
                measured.insert(pair);
            std::cout << "| " << row.name << " | " << size_label(n) << " | ";
            if (ratios.empty()) {
                std::cout << (row.runnable ? "not measured" : "not offered by this processor") << " | "
                          << row.openssl_path << " | | | | |\n";
                continue;
            }
            const double ratio = median(ratios);
            std::string target = "-";
            if (row.target > 0) {
                const bool met = ratio >= row.target;
                all_met = all_met && met;
                target = ">= " + fixed(row.target, 2) + (met ? " met" : " NOT MET");
            }
            std::cout << fixed(median(samples["ours " + pair]) / 1e6, 0) << " | " << row.openssl_path << " | "
                      << fixed(median(samples["theirs " + pair]) / 1e6, 0)
                      << " | " << fixed(ratio, 3) << " | " << fixed(*std::min_element(ratios.begin(), ratios.end()), 3)
                      << " - " << fixed(*std::max_element(ratios.begin(), ratios.end()), 3) << " | " << target
                      << " |\n";
        }
    }
    std::cout << "\nOpenSSL paths (OPENSSL_ia32cap):\n";
    for (const auto& p : kPaths)
        std::cout << "- " << p.name << ": " << (p.ia32cap ? std::string("\"") + p.ia32cap + "\"" : "unset") << ", "
                  << p.what << "\n";
    std::cout.flush();
    const int status = kevra_bench::measured_status(expected, measured);
    if (status != 0)
        std::cout << "\nThe run failed: rows not measured.\n";
    else
        std::cout << (all_met ? "\nAll speed targets met.\n" : "\nSome speed targets NOT met.\n");
    return status;
}
