// SHA-256 block function with SSE4.1: the message schedule four words at a
// time in 128-bit registers, the steps on ordinary registers.

#include "crypto/hxcrypto/3rdparty/sha256_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "crypto/hxcrypto/3rdparty/sha256_sse_steps.h"

#define SSE4_INLINE static inline __attribute__((always_inline, target("sse4.1")))

namespace hxcrypto {
namespace {

using sse_steps::small_sigma0;
using sse_steps::small_sigma1_doubled;

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

}  // namespace

__attribute__((target("sse4.1"))) void sha256_sse4(const void* data, uint32_t* state, uint64_t blocks) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    SHA256_LOAD_WORKING(state);
    alignas(16) uint32_t wk[16];

    for (; blocks > 0; --blocks, p += 64) {
        __m128i x0 = load_be(p), x1 = load_be(p + 16), x2 = load_be(p + 32), x3 = load_be(p + 48);
        SHA256_BLOCK_BEGIN();
        SHA256_SSE_BLOCK_STEPS();
        SHA256_BLOCK_END();
    }
    SHA256_STORE_WORKING(state);
}

}  // namespace hxcrypto

#endif  // __x86_64__
