#include "crypto/hxcrypto/sha256.h"

#include <cstring>

#include "crypto/hxcrypto/3rdparty/sha256_kernels.h"
#include "crypto/hxcrypto/block_buffer.h"
#include "crypto/hxcrypto/sha256_constants.h"
#include "crypto/hxcrypto/sha256_round.h"

namespace hxcrypto {

sha256_kernel choose_sha256_kernel(const cpu_info::cpu_info_impl& cpu) {
#if defined(__x86_64__)
    // The AVX2 path hands single blocks to the SSE4.1 kernel, so it needs
    // SSE4.1 too; and 256-bit registers fault unless the OS saves them.
    if (cpu.avx2() && cpu.bmi2() && cpu.os_saves_ymm() && cpu.sse41())
        return sha256_kernel::rorx;
    if (cpu.sse41())
        return sha256_kernel::sse4;
    if (cpu.sse2())
        return sha256_kernel::sse2;
#else
    (void)cpu;
#endif
    return sha256_kernel::portable;
}

const char* sha256_kernel_name(sha256_kernel kernel) {
    switch (kernel) {
        case sha256_kernel::rorx:
            return "rorx";
        case sha256_kernel::sse4:
            return "sse4";
        case sha256_kernel::sse2:
            return "sse2";
        case sha256_kernel::portable:
            break;
    }
    return "portable";
}

namespace {

inline uint32_t load_be32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

}  // namespace

sha256::sha256() : sha256(choose_sha256_kernel(cpu_info::features())) {}

sha256::sha256(sha256_kernel kernel) : m{}, pos(0), total(0), kernel_(kernel) {
    // Position and length start at zero so that an update before init stays
    // inside the block buffer; the words are zeroed for a deterministic result.
    std::memset(H.get(), 0, H.bytes());
    bind_kernel();
}

void sha256::bind_kernel() {
    uint32_t* state = H.get();
    switch (kernel_) {
#if defined(__x86_64__)
        case sha256_kernel::rorx:
            transfunc = [state](const unsigned char* blocks, uint64_t count) {
                if (count >= 2)
                    sha256_rorx(blocks, state, count);
                else if (count == 1)
                    sha256_sse4(blocks, state, 1);
            };
            return;
        case sha256_kernel::sse4:
            transfunc = [state](const unsigned char* blocks, uint64_t count) { sha256_sse4(blocks, state, count); };
            return;
        case sha256_kernel::sse2:
            transfunc = [state](const unsigned char* blocks, uint64_t count) {
                X86_SHA256_HashBlocks(state, reinterpret_cast<const uint32_t*>(blocks),
                                      static_cast<size_t>(count) * 64);
            };
            return;
#endif
        default:
            kernel_ = sha256_kernel::portable;
            transfunc = [this](const unsigned char* blocks, uint64_t count) { transform(blocks, count); };
            return;
    }
}

sha256::~sha256() {
    clear();
    transfunc = nullptr;
}

void sha256::init() {
    std::memcpy(H.get(), SHA256_IV, sizeof SHA256_IV);
    pos = 0;
    total = 0;
}

void sha224::init() {
    std::memcpy(H.get(), SHA224_IV, sizeof SHA224_IV);
    pos = 0;
    total = 0;
}

void sha256::clear() {
    secure_wipe(H.get(), H.bytes());
    secure_wipe(m, sizeof m);
}

void sha256::transform(const unsigned char* blocks, uint64_t count) {
    uint32_t* s = H.get();
    SHA256_LOAD_WORKING(s);
    for (; count > 0; --count, blocks += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = load_be32(blocks + 4 * i);
        SHA256_BLOCK_BEGIN();

#define SHA256_PORTABLE_WK0(i) (w[i] + SHA256_K[i])
        SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, SHA256_PORTABLE_WK0, 0, mx, my);
#undef SHA256_PORTABLE_WK0

        // Steps 16..63: the schedule word W[t] overwrites W[t-16] in place.
#define SHA256_PORTABLE_WK(i)                                                                    \
    (w[(i) & 15] += SHA256_SMALL_S1(w[((i) + 14) & 15]) + w[((i) + 9) & 15] +                   \
                    SHA256_SMALL_S0(w[((i) + 1) & 15]),                                          \
     w[(i) & 15] + SHA256_K[i])
        SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, SHA256_PORTABLE_WK, 16, mx, my);
        SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, SHA256_PORTABLE_WK, 32, mx, my);
        SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, SHA256_PORTABLE_WK, 48, mx, my);
#undef SHA256_PORTABLE_WK

        SHA256_BLOCK_END();
    }
    SHA256_STORE_WORKING(s);
}

void sha256::update(const unsigned char* data, size_t len) { absorb_blocks(m, pos, total, data, len, transfunc); }

void sha256::final(unsigned char* hash) {
    pad_last_block<true>(m, pos, total, transfunc);
    uint32_t* s = H.get();
    for (int i = 0; i < 8; ++i) {
        const uint32_t v = s[i];
        unsigned char* out = reinterpret_cast<unsigned char*>(s + i);
        out[0] = static_cast<unsigned char>(v >> 24);
        out[1] = static_cast<unsigned char>(v >> 16);
        out[2] = static_cast<unsigned char>(v >> 8);
        out[3] = static_cast<unsigned char>(v);
    }
    std::memcpy(hash, s, hashsize() / 8);
}

}  // namespace hxcrypto
