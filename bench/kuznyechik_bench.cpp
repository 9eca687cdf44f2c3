// Kuznyechik in counter mode: ours beside kuznyechik-ctr of OpenSSL's GOST
// provider (Debian's libengine-gost-openssl), on 16 KiB and 1 MiB buffers.
// The "Message" benchmarks key the cipher afresh in every iteration and
// encrypt the whole buffer in one call, as the product's callers do; the
// "Stream" ones key it once and go on encrypting one continuing keystream.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/measured_rows.h"
#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/ctr.h"
#include "crypto/hxcrypto/kuznyechik.h"

namespace {

const unsigned char kKey[32] = {0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00, 0x11, 0x22,
                                0x33, 0x44, 0x55, 0x66, 0x77, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54,
                                0x32, 0x10, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const unsigned char kIv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xce, 0xf0};

std::vector<unsigned char> input(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void BM_Ours_KuznyechikCtr_Message(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    const std::vector<unsigned char> in = input(n);
    std::vector<unsigned char> out(n);
    hxcrypto::ctr mode{hxcrypto::kuznyechik()};
    for (auto _ : state) {
        if (!mode.init(kKey, sizeof kKey, kIv, sizeof kIv) || !mode.encrypt(in.data(), n, out.data())) {
            state.SkipWithError("counter mode refused the key");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

struct gost_provider {
    gost_provider() {
        ctx = OSSL_LIB_CTX_new();
        if (ctx != nullptr) provider = OSSL_PROVIDER_load(ctx, "gostprov");
        if (provider != nullptr) cipher = EVP_CIPHER_fetch(ctx, "kuznyechik-ctr", nullptr);
    }
    ~gost_provider() {
        EVP_CIPHER_free(cipher);
        if (provider != nullptr) OSSL_PROVIDER_unload(provider);
        OSSL_LIB_CTX_free(ctx);
    }
    OSSL_LIB_CTX* ctx = nullptr;
    OSSL_PROVIDER* provider = nullptr;
    EVP_CIPHER* cipher = nullptr;
};

// kuznyechik-ctr of the GOST provider, loaded once; null, with the benchmark
// skipped, where the provider is not installed.
const EVP_CIPHER* gost_cipher(benchmark::State& state) {
    static gost_provider gost;
    if (gost.cipher == nullptr) state.SkipWithError("OpenSSL GOST provider (libengine-gost-openssl) not installed");
    return gost.cipher;
}

// What a benchmark of the GOST provider works on: the cipher (null, with the
// benchmark skipped, where the provider is missing), the buffers of the
// benchmark's size and a cipher context.
struct gost_run {
    explicit gost_run(benchmark::State& state)
        : cipher(gost_cipher(state)), n(static_cast<size_t>(state.range(0))), in(input(n)), out(n + 16),
          context(EVP_CIPHER_CTX_new()) {}
    ~gost_run() { EVP_CIPHER_CTX_free(context); }
    gost_run(const gost_run&) = delete;
    gost_run& operator=(const gost_run&) = delete;

    // Encrypts the whole input once on the context; false when OpenSSL refuses.
    bool encrypt() {
        int len = 0;
        return EVP_EncryptUpdate(context, out.data(), &len, in.data(), static_cast<int>(n)) == 1;
    }

    const EVP_CIPHER* cipher;
    const size_t n;
    const std::vector<unsigned char> in;
    std::vector<unsigned char> out;
    EVP_CIPHER_CTX* context;
};

void BM_OpenSslGost_KuznyechikCtr_Message(benchmark::State& state) {
    gost_run run(state);
    if (run.cipher == nullptr) return;
    for (auto _ : state) {
        if (EVP_EncryptInit_ex(run.context, run.cipher, nullptr, kKey, kIv) != 1 || !run.encrypt()) {
            state.SkipWithError("OpenSSL refused the key");
            break;
        }
        benchmark::DoNotOptimize(run.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(run.n));
}

void BM_Ours_KuznyechikCtr_Stream(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    const std::vector<unsigned char> in = input(n);
    std::vector<unsigned char> out(n);
    hxcrypto::ctr mode{hxcrypto::kuznyechik()};
    if (!mode.init(kKey, sizeof kKey, kIv, sizeof kIv)) {
        state.SkipWithError("counter mode refused the key");
        return;
    }
    for (auto _ : state) {
        mode.encrypt(in.data(), n, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void BM_OpenSslGost_KuznyechikCtr_Stream(benchmark::State& state) {
    gost_run run(state);
    if (run.cipher == nullptr) return;
    if (EVP_EncryptInit_ex(run.context, run.cipher, nullptr, kKey, kIv) != 1) {
        state.SkipWithError("OpenSSL refused the key");
        return;
    }
    for (auto _ : state) {
        run.encrypt();
        benchmark::DoNotOptimize(run.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(run.n));
}

}  // namespace

BENCHMARK(BM_Ours_KuznyechikCtr_Message)->Arg(16 << 10)->Arg(1 << 20);
BENCHMARK(BM_OpenSslGost_KuznyechikCtr_Message)->Arg(16 << 10)->Arg(1 << 20);
BENCHMARK(BM_Ours_KuznyechikCtr_Stream)->Arg(16 << 10)->Arg(1 << 20);
BENCHMARK(BM_OpenSslGost_KuznyechikCtr_Stream)->Arg(16 << 10)->Arg(1 << 20);

int main(int argc, char** argv) {
    std::vector<std::string> rows;
    for (const char* name : {"BM_Ours_KuznyechikCtr_Message", "BM_OpenSslGost_KuznyechikCtr_Message",
                             "BM_Ours_KuznyechikCtr_Stream", "BM_OpenSslGost_KuznyechikCtr_Stream"})
        for (const char* size : {"16384", "1048576"})
            rows.push_back(std::string(name) + "/" + size);
    return kevra_bench::run_rows(argc, argv, rows);
}
