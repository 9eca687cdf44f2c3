// SHA-256 block function with SSE2 alone: the message schedule four words at
// a time in 128-bit registers (byte swaps and word shifts built from SSE2
// shuffles), the steps on ordinary registers.

#include "crypto/hxcrypto/3rdparty/sha256_kernels.h"

#if defined(__x86_64__)

#include "crypto/hxcrypto/3rdparty/sha256_sse_steps.h"

#define SSE2_INLINE static inline __attribute__((always_inline, target("sse2")))

namespace hxcrypto {
namespace {

using sse_steps::small_sigma0;
using sse_steps::small_sigma1_doubled;

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

}  // namespace

__attribute__((target("sse2"))) void X86_SHA256_HashBlocks(uint32_t* state, const uint32_t* data, size_t length) {
    if (length < 64)
        return;
    alignas(16) uint32_t s[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(s), _mm_load_si128(reinterpret_cast<const __m128i*>(state)));
    _mm_store_si128(reinterpret_cast<__m128i*>(s + 4),
                    _mm_load_si128(reinterpret_cast<const __m128i*>(state + 4)));
    SHA256_LOAD_WORKING(s);
    alignas(16) uint32_t wk[16];

    for (size_t blocks = length / 64; blocks > 0; --blocks, data += 16) {
        __m128i x0 = load_be(data), x1 = load_be(data + 4), x2 = load_be(data + 8), x3 = load_be(data + 12);
        SHA256_BLOCK_BEGIN();
        SHA256_SSE_BLOCK_STEPS();
        SHA256_BLOCK_END();
    }
    SHA256_STORE_WORKING(s);
    _mm_store_si128(reinterpret_cast<__m128i*>(state), _mm_load_si128(reinterpret_cast<const __m128i*>(s)));
    _mm_store_si128(reinterpret_cast<__m128i*>(state + 4), _mm_load_si128(reinterpret_cast<const __m128i*>(s + 4)));
}

}  // namespace hxcrypto

#endif  // __x86_64__
