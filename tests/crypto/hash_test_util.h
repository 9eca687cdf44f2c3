#pragma once
// Helpers shared by the hash tests: hex text of digests, seeded random data
// and OpenSSL as the reference digest.

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypto/hxcrypto/crypto_hash.h"
#include "crypto/hxcrypto/sha256.h"
#include "tests/crypto/hex_text.h"

namespace hash_test {

using crypto_test::hex;
using crypto_test::unhex;

inline std::vector<unsigned char> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v)
        b = static_cast<unsigned char>(gen());
    return v;
}

inline std::vector<unsigned char> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Digest of data by h through init/update/final.
inline std::vector<unsigned char> digest(hxcrypto::crypto_hash& h, const unsigned char* data, size_t n) {
    std::vector<unsigned char> out(h.hashsize() / 8);
    h.init();
    h.update(data, n);
    h.final(out.data());
    return out;
}
inline std::vector<unsigned char> digest(hxcrypto::crypto_hash& h, const std::vector<unsigned char>& v) {
    return digest(h, v.data(), v.size());
}
inline std::vector<unsigned char> digest(hxcrypto::crypto_hash& h, const std::string& s) {
    return digest(h, reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

inline std::vector<unsigned char> openssl_digest(const EVP_MD* md, const std::vector<unsigned char>& v) {
    std::vector<unsigned char> out(EVP_MD_get_size(md));
    unsigned int len = 0;
    EVP_Digest(v.data(), v.size(), out.data(), &len, md, nullptr);
    out.resize(len);
    return out;
}

inline std::vector<unsigned char> openssl_hmac(const EVP_MD* md, const std::vector<unsigned char>& key,
                                               const std::vector<unsigned char>& v) {
    std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    static const unsigned char empty = 0;
    HMAC(md, key.empty() ? &empty : key.data(), static_cast<int>(key.size()), v.data(), v.size(), out.data(),
         &len);
    out.resize(len);
    return out;
}

// The SHA-256 block functions this processor can run, best first.
inline std::vector<hxcrypto::sha256_kernel> runnable_kernels() {
    using hxcrypto::cpu_info;
    using hxcrypto::sha256_kernel;
    std::vector<sha256_kernel> k;
    if (cpu_info::avx2() && cpu_info::bmi2() && cpu_info::os_saves_ymm() && cpu_info::sse41())
        k.push_back(sha256_kernel::rorx);
    if (cpu_info::sse41())
        k.push_back(sha256_kernel::sse4);
    if (cpu_info::sse2())
        k.push_back(sha256_kernel::sse2);
    k.push_back(sha256_kernel::portable);
    return k;
}

}  // namespace hash_test
