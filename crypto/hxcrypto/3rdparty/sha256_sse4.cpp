// SHA-256 block function with SSE4.1: the message schedule four words at a
// time in 128-bit registers, the steps on ordinary registers.

#include "crypto/hxcrypto/3rdparty/sha256_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "crypto/hxcrypto/sha256_constants.h"
#include "crypto/hxcrypto/sha256_round.h"

#define SSE4_INLINE static inline __attribute__((always_inline, target("sse4.1")))

namespace hxcrypto {
namespace {

// s0 of four words: ror 7 ^ ror 18 ^ shr 3.
SSE4_INLINE __m128i small_sigma0(__m128i x) {
    __m128i r = _mm_srli_epi32(x, 3);
    r = _mm_xor_si128(r, _mm_srli_epi32(x, 7));
    r = _mm_xor_si128(r, _mm_slli_epi32(x, 25));
    r = _mm_xor_si128(r, _mm_srli_epi32(x, 18));
    r = _mm_xor_si128(r, _mm_slli_epi32(x, 14));
    return r;
}

// s1 of the words in 32-bit lanes 0 and 2 of y, where each 64-bit lane holds
// its word twice (so a 64-bit right shift is a 32-bit rotation).
SSE4_INLINE __m128i small_sigma1_doubled(__m128i y) {
    __m128i r = _mm_srli_epi32(y, 10);
    r = _mm_xor_si128(r, _mm_srli_epi64(y, 17));
    r = _mm_xor_si128(r, _mm_srli_epi64(y, 19));
    return r;
}

// Given W[t-16..t-1] in x0..x3, returns W[t..t+3].
SSE4_INLINE __m128i schedule(__m128i x0, __m128i x1, __m128i x2, __m128i x3) {
    const __m128i low_pair = _mm_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i high_pair = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 8, 9, 10, 11);
    const __m128i w15 = _mm_alignr_epi8(x1, x0, 4);  // W[t-15..t-12]
    const __m128i w7 = _mm_alignr_epi8(x3, x2, 4);   // W[t-7..t-4]
    __m128i t = _mm_add_epi32(_mm_add_epi32(x0, w7), small_sigma0(w15));
    // W[t], W[t+1] take s1 of W[t-2], W[t-1] ...
    __m128i s = small_sigma1_doubled(_mm_shuffle_epi32(x3, _MM_SHUFFLE(3, 3, 2, 2)));
    t = _mm_add_epi32(t, _mm_shuffle_epi8(s, low_pair));
    // ... and W[t+2], W[t+3] s1 of the two words just made.
    s = small_sigma1_doubled(_mm_shuffle_epi32(t, _MM_SHUFFLE(1, 1, 0, 0)));
    return _mm_add_epi32(t, _mm_shuffle_epi8(s, high_pair));
}

SSE4_INLINE __m128i load_be(const unsigned char* p) {
    const __m128i swap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
}

SSE4_INLINE __m128i k4(int t) { return _mm_load_si128(reinterpret_cast<const __m128i*>(SHA256_K + t)); }

}  // namespace

// W[t] + K[t] of the current block, kept in a ring of sixteen words.
#define SSE4_WK(i) wk[(i) & 15]

// Saves W[t..t+3] + K[t..t+3] from x0 into the ring. The empty asm tells the
// compiler the saved words may have changed, so the steps read them back
// from memory (one load folded into an add) instead of extracting them from
// the vector register one by one.
#define SSE4_SAVE_WK(x0, t)                                                                    \
    _mm_store_si128(reinterpret_cast<__m128i*>(wk + ((t) & 15)), _mm_add_epi32(x0, k4(t)));   \
    __asm__("" : "+m"(*reinterpret_cast<__m128i*>(wk + ((t) & 15))))

// Four steps t..t+3, while x0 is replaced by W[t+16..t+19].
#define SSE4_STEP4(x0, x1, x2, x3, t, a, b, c, d, e, f, g, h) \
    SSE4_SAVE_WK(x0, t);                                       \
    x0 = schedule(x0, x1, x2, x3);                             \
    SHA256_FOUR_ROUNDS(a, b, c, d, e, f, g, h, SSE4_WK, t, mx, my)

// Sixteen steps t..t+15 with the schedule of the next sixteen words.
#define SSE4_SIXTEEN_SCHEDULED(t)                              \
    SSE4_STEP4(x0, x1, x2, x3, (t) + 0, a, b, c, d, e, f, g, h); \
    SSE4_STEP4(x1, x2, x3, x0, (t) + 4, e, f, g, h, a, b, c, d); \
    SSE4_STEP4(x2, x3, x0, x1, (t) + 8, a, b, c, d, e, f, g, h); \
    SSE4_STEP4(x3, x0, x1, x2, (t) + 12, e, f, g, h, a, b, c, d)

__attribute__((target("sse4.1"))) void sha256_sse4(const void* data, uint32_t* state, uint64_t blocks) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    alignas(16) uint32_t wk[16];

    for (; blocks > 0; --blocks, p += 64) {
        __m128i x0 = load_be(p), x1 = load_be(p + 16), x2 = load_be(p + 32), x3 = load_be(p + 48);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;
        uint32_t mx, my = b ^ c;

        SSE4_SIXTEEN_SCHEDULED(0);
        SSE4_SIXTEEN_SCHEDULED(16);
        SSE4_SIXTEEN_SCHEDULED(32);
        SSE4_SAVE_WK(x0, 48);
        SSE4_SAVE_WK(x1, 52);
        SSE4_SAVE_WK(x2, 56);
        SSE4_SAVE_WK(x3, 60);
        SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, SSE4_WK, 48, mx, my);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
        f += f0;
        g += g0;
        h += h0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
    state[5] = f;
    state[6] = g;
    state[7] = h;
}

}  // namespace hxcrypto

#endif  // __x86_64__
