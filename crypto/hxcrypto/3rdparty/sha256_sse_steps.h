#pragma once
// What the SSE2 and SSE4.1 SHA-256 kernels share: the small sigma functions
// on four words, the round constants four at a time, and the 64 steps of one
// block with the message schedule computed four words ahead in x0..x3.
//
// SHA256_SSE_BLOCK_STEPS() expects in scope: the working variables a..h and
// mx, my (see sha256_round.h), the block's first sixteen words in x0..x3,
// an aligned ring `uint32_t wk[16]`, and the kernel's own
// `__m128i schedule(x0, x1, x2, x3)` returning W[t..t+3] from W[t-16..t-1].

#include <emmintrin.h>

#include <cstdint>

#include "crypto/hxcrypto/sha256_constants.h"
#include "crypto/hxcrypto/sha256_round.h"

#define SHA256_SSE2_INLINE static inline __attribute__((always_inline, target("sse2")))

namespace hxcrypto {
namespace sse_steps {

// s0 of four words: ror 7 ^ ror 18 ^ shr 3.
SHA256_SSE2_INLINE __m128i small_sigma0(__m128i x) {
    __m128i r = _mm_srli_epi32(x, 3);
    r = _mm_xor_si128(r, _mm_srli_epi32(x, 7));
    r = _mm_xor_si128(r, _mm_slli_epi32(x, 25));
    r = _mm_xor_si128(r, _mm_srli_epi32(x, 18));
    r = _mm_xor_si128(r, _mm_slli_epi32(x, 14));
    return r;
}

// s1 of the words in 32-bit lanes 0 and 2 of y, where each 64-bit lane holds
// its word twice (so a 64-bit right shift is a 32-bit rotation).
SHA256_SSE2_INLINE __m128i small_sigma1_doubled(__m128i y) {
    __m128i r = _mm_srli_epi32(y, 10);
    r = _mm_xor_si128(r, _mm_srli_epi64(y, 17));
    r = _mm_xor_si128(r, _mm_srli_epi64(y, 19));
    return r;
}

// K[t..t+3].
SHA256_SSE2_INLINE __m128i k4(int t) { return _mm_load_si128(reinterpret_cast<const __m128i*>(SHA256_K + t)); }

}  // namespace sse_steps
}  // namespace hxcrypto

// W[t] + K[t] of the current block, kept in a ring of sixteen words.
#define SHA256_SSE_WK(i) wk[(i) & 15]

// Saves W[t..t+3] + K[t..t+3] from x0 into the ring. The empty asm tells the
// compiler the saved words may have changed, so the steps read them back
// from memory (one load folded into an add) instead of extracting them from
// the vector register one by one.
#define SHA256_SSE_SAVE_WK(x0, t)                                                                          \
    _mm_store_si128(reinterpret_cast<__m128i*>(wk + ((t) & 15)), _mm_add_epi32(x0, sse_steps::k4(t)));   \
    __asm__("" : "+m"(*reinterpret_cast<__m128i*>(wk + ((t) & 15))))

// Four steps t..t+3, while x0 is replaced by W[t+16..t+19].
#define SHA256_SSE_STEP4(x0, x1, x2, x3, t, a, b, c, d, e, f, g, h) \
    SHA256_SSE_SAVE_WK(x0, t);                                       \
    x0 = schedule(x0, x1, x2, x3);                                   \
    SHA256_FOUR_ROUNDS(a, b, c, d, e, f, g, h, SHA256_SSE_WK, t, mx, my)

// Sixteen steps t..t+15 with the schedule of the next sixteen words.
#define SHA256_SSE_SIXTEEN_SCHEDULED(t)                                \
    SHA256_SSE_STEP4(x0, x1, x2, x3, (t) + 0, a, b, c, d, e, f, g, h); \
    SHA256_SSE_STEP4(x1, x2, x3, x0, (t) + 4, e, f, g, h, a, b, c, d); \
    SHA256_SSE_STEP4(x2, x3, x0, x1, (t) + 8, a, b, c, d, e, f, g, h); \
    SHA256_SSE_STEP4(x3, x0, x1, x2, (t) + 12, e, f, g, h, a, b, c, d)

// The 64 steps of one block; the last sixteen need no further schedule.
#define SHA256_SSE_BLOCK_STEPS()         \
    SHA256_SSE_SIXTEEN_SCHEDULED(0);     \
    SHA256_SSE_SIXTEEN_SCHEDULED(16);    \
    SHA256_SSE_SIXTEEN_SCHEDULED(32);    \
    SHA256_SSE_SAVE_WK(x0, 48);          \
    SHA256_SSE_SAVE_WK(x1, 52);          \
    SHA256_SSE_SAVE_WK(x2, 56);          \
    SHA256_SSE_SAVE_WK(x3, 60);          \
    SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, SHA256_SSE_WK, 48, mx, my)
