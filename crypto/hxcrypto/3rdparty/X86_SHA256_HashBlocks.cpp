// SHA-256 block function with SSE2 alone: the message schedule four words at
// a time in 128-bit registers (byte swaps and word shifts built from SSE2
// shuffles), the steps on ordinary registers.

#include "crypto/hxcrypto/3rdparty/sha256_kernels.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include "crypto/hxcrypto/sha256_constants.h"
#include "crypto/hxcrypto/sha256_round.h"

#define SSE2_INLINE static inline __attribute__((always_inline, target("sse2")))

namespace hxcrypto {
namespace {

SSE2_INLINE __m128i small_sigma0(__m128i x) {
    __m128i r = _mm_srli_epi32(x, 3);
    r = _mm_xor_si128(r, _mm_srli_epi32(x, 7));
    r = _mm_xor_si128(r, _mm_slli_epi32(x, 25));
    r = _mm_xor_si128(r, _mm_srli_epi32(x, 18));
    r = _mm_xor_si128(r, _mm_slli_epi32(x, 14));
    return r;
}

// s1 of the words in 32-bit lanes 0 and 2, each 64-bit lane holding its word twice.
SSE2_INLINE __m128i small_sigma1_doubled(__m128i y) {
    __m128i r = _mm_srli_epi32(y, 10);
    r = _mm_xor_si128(r, _mm_srli_epi64(y, 17));
    r = _mm_xor_si128(r, _mm_srli_epi64(y, 19));
    return r;
}

// Given W[t-16..t-1] in x0..x3, returns W[t..t+3].
SSE2_INLINE __m128i schedule(__m128i x0, __m128i x1, __m128i x2, __m128i x3) {
    // Words 1..4 of the pair (x_lo, x_hi): the 4-byte alignment shift.
    const __m128i w15 = _mm_or_si128(_mm_srli_si128(x0, 4), _mm_slli_si128(x1, 12));
    const __m128i w7 = _mm_or_si128(_mm_srli_si128(x2, 4), _mm_slli_si128(x3, 12));
    __m128i t = _mm_add_epi32(_mm_add_epi32(x0, w7), small_sigma0(w15));
    // s1 of W[t-2], W[t-1] into lanes 0, 1 (lanes 2, 3 zero).
    __m128i s = small_sigma1_doubled(_mm_shuffle_epi32(x3, _MM_SHUFFLE(3, 3, 2, 2)));
    t = _mm_add_epi32(t, _mm_move_epi64(_mm_shuffle_epi32(s, _MM_SHUFFLE(3, 3, 2, 0))));
    // s1 of W[t], W[t+1] into lanes 2, 3 (lanes 0, 1 zero).
    s = small_sigma1_doubled(_mm_shuffle_epi32(t, _MM_SHUFFLE(1, 1, 0, 0)));
    return _mm_add_epi32(t, _mm_slli_si128(_mm_shuffle_epi32(s, _MM_SHUFFLE(3, 3, 2, 0)), 8));
}

SSE2_INLINE __m128i load_be(const uint32_t* p) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));  // bytes within 16-bit halves
    x = _mm_shufflelo_epi16(x, _MM_SHUFFLE(2, 3, 0, 1));            // halves within words
    return _mm_shufflehi_epi16(x, _MM_SHUFFLE(2, 3, 0, 1));
}

SSE2_INLINE __m128i k4(int t) { return _mm_load_si128(reinterpret_cast<const __m128i*>(SHA256_K + t)); }

}  // namespace

// W[t] + K[t] of the current block, kept in a ring of sixteen words.
#define SSE2_WK(i) wk[(i) & 15]

// Saves W[t..t+3] + K[t..t+3] from x0 into the ring; the empty asm makes the
// steps read the words back from memory rather than out of the register.
#define SSE2_SAVE_WK(x0, t)                                                                    \
    _mm_store_si128(reinterpret_cast<__m128i*>(wk + ((t) & 15)), _mm_add_epi32(x0, k4(t)));   \
    __asm__("" : "+m"(*reinterpret_cast<__m128i*>(wk + ((t) & 15))))

// Four steps t..t+3, while x0 is replaced by W[t+16..t+19].
#define SSE2_STEP4(x0, x1, x2, x3, t, a, b, c, d, e, f, g, h) \
    SSE2_SAVE_WK(x0, t);                                       \
    x0 = schedule(x0, x1, x2, x3);                             \
    SHA256_FOUR_ROUNDS(a, b, c, d, e, f, g, h, SSE2_WK, t, mx, my)

#define SSE2_SIXTEEN_SCHEDULED(t)                                \
    SSE2_STEP4(x0, x1, x2, x3, (t) + 0, a, b, c, d, e, f, g, h); \
    SSE2_STEP4(x1, x2, x3, x0, (t) + 4, e, f, g, h, a, b, c, d); \
    SSE2_STEP4(x2, x3, x0, x1, (t) + 8, a, b, c, d, e, f, g, h); \
    SSE2_STEP4(x3, x0, x1, x2, (t) + 12, e, f, g, h, a, b, c, d)

__attribute__((target("sse2"))) void X86_SHA256_HashBlocks(uint32_t* state, const uint32_t* data, size_t length) {
    if (length < 64)
        return;
    alignas(16) uint32_t s[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(s), _mm_load_si128(reinterpret_cast<const __m128i*>(state)));
    _mm_store_si128(reinterpret_cast<__m128i*>(s + 4),
                    _mm_load_si128(reinterpret_cast<const __m128i*>(state + 4)));
    uint32_t a = s[0], b = s[1], c = s[2], d = s[3], e = s[4], f = s[5], g = s[6], h = s[7];
    alignas(16) uint32_t wk[16];

    for (size_t blocks = length / 64; blocks > 0; --blocks, data += 16) {
        __m128i x0 = load_be(data), x1 = load_be(data + 4), x2 = load_be(data + 8), x3 = load_be(data + 12);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;
        uint32_t mx, my = b ^ c;

        SSE2_SIXTEEN_SCHEDULED(0);
        SSE2_SIXTEEN_SCHEDULED(16);
        SSE2_SIXTEEN_SCHEDULED(32);
        SSE2_SAVE_WK(x0, 48);
        SSE2_SAVE_WK(x1, 52);
        SSE2_SAVE_WK(x2, 56);
        SSE2_SAVE_WK(x3, 60);
        SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, SSE2_WK, 48, mx, my);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
        f += f0;
        g += g0;
        h += h0;
    }
    s[0] = a;
    s[1] = b;
    s[2] = c;
    s[3] = d;
    s[4] = e;
    s[5] = f;
    s[6] = g;
    s[7] = h;
    _mm_store_si128(reinterpret_cast<__m128i*>(state), _mm_load_si128(reinterpret_cast<const __m128i*>(s)));
    _mm_store_si128(reinterpret_cast<__m128i*>(state + 4), _mm_load_si128(reinterpret_cast<const __m128i*>(s + 4)));
}

}  // namespace hxcrypto

#endif  // __x86_64__
