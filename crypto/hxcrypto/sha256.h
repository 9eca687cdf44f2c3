#pragma once
// SHA-256 and SHA-224 (FIPS 180-4) behind the hash-function interface. The
// block function is chosen once per object by the processor's features.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "crypto/hxcrypto/aligned_pod_array.h"
#include "crypto/hxcrypto/cpuinfo.h"
#include "crypto/hxcrypto/crypto_hash.h"

namespace hxcrypto {

// The block functions an object can use, in the order they are preferred.
enum class sha256_kernel {
    rorx,      // sha256_rorx for two or more blocks, sha256_sse4 for one
    sse4,      // sha256_sse4
    sse2,      // X86_SHA256_HashBlocks
    portable,  // sha256::transform
};

// The block function for a processor with these features: AVX2 and BMI2 with
// the OS saving 256-bit registers and SSE4.1 (taken for single blocks) give
// rorx; else SSE4.1 gives sse4; else SSE2 gives sse2; else portable.
sha256_kernel choose_sha256_kernel(const cpu_info::cpu_info_impl& features);

// "rorx", "sse4", "sse2" or "portable".
const char* sha256_kernel_name(sha256_kernel kernel);

class sha256 : public crypto_hash {
public:
    // Chooses the block function for this processor; ready for init.
    sha256();
    // Uses the given block function whatever the processor offers (tests and
    // benchmarks); the caller makes sure the processor can run it.
    explicit sha256(sha256_kernel kernel);
    ~sha256() override;

    // Loads the SHA-256 initial hash value and empties the message.
    void init() override;
    // Absorbs len bytes; whole blocks go to the block function in one call,
    // straight from the caller's buffer.
    void update(const unsigned char* data, size_t len) override;
    // Writes hashsize()/8 bytes: 32 for SHA-256, 28 for SHA-224.
    void final(unsigned char* hash) override;
    // 256 bits.
    size_t hashsize() const override { return 256; }
    // 512 bits, for SHA-224 too.
    size_t blocksize() const override { return 512; }
    // A fresh sha256 with its own choice of block function; it needs init.
    crypto_hash* clone() const override { return new sha256(); }
    // Zeroes the chaining words and the waiting block; the object needs init after.
    void clear() override;

    // The block function this object uses.
    sha256_kernel kernel() const { return kernel_; }

protected:
    // Portable block function: compresses count 64-byte blocks into H.
    void transform(const unsigned char* blocks, uint64_t count);

    std::function<void(const unsigned char*, uint64_t)> transfunc;
    aligned_pod_array<uint32_t, 8, 32> H;
    unsigned char m[64];
    size_t pos;
    uint64_t total;

private:
    void bind_kernel();
    sha256_kernel kernel_;
};

class sha224 : public sha256 {
public:
    sha224() = default;
    explicit sha224(sha256_kernel kernel) : sha256(kernel) {}

    // Loads the SHA-224 initial hash value and empties the message.
    void init() override;
    // 224 bits: final writes the first seven words.
    size_t hashsize() const override { return 224; }
    // A fresh sha224 that needs init.
    crypto_hash* clone() const override { return new sha224(); }
};

}  // namespace hxcrypto
