// SHA-256 block function with AVX2 and BMI2: the message schedules of two
// blocks side by side in the two halves of 256-bit registers, the steps of
// both blocks on ordinary registers with the three-operand rotation RORX.

#include "crypto/hxcrypto/3rdparty/sha256_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "crypto/hxcrypto/sha256_constants.h"
#include "crypto/hxcrypto/sha256_round.h"

#define RORX_INLINE static inline __attribute__((always_inline, target("avx2,bmi2")))

// GCC schedules instructions before register allocation only when asked. Here
// (three-operand RORX and VEX forms, so little register pressure) that lets
// the steps of neighbouring rounds overlap, worth about 3.5% on Zen 4; the
// SSE kernels, with two-operand forms, lose by it and do without.
#if defined(__GNUC__) && !defined(__clang__)
#define RORX_SCHEDULED __attribute__((optimize("schedule-insns")))
#else
#define RORX_SCHEDULED
#endif

namespace hxcrypto {
namespace {

// The round constants with every group of four given twice, once per half.
struct doubled_constants {
    alignas(32) uint32_t k[128];
    constexpr doubled_constants() : k{} {
        for (int i = 0; i < 64; ++i) {
            k[(i / 4) * 8 + i % 4] = SHA256_K[i];
            k[(i / 4) * 8 + 4 + i % 4] = SHA256_K[i];
        }
    }
};
constexpr doubled_constants kK2;

RORX_INLINE __m256i small_sigma0(__m256i x) {
    __m256i r = _mm256_srli_epi32(x, 3);
    r = _mm256_xor_si256(r, _mm256_srli_epi32(x, 7));
    r = _mm256_xor_si256(r, _mm256_slli_epi32(x, 25));
    r = _mm256_xor_si256(r, _mm256_srli_epi32(x, 18));
    r = _mm256_xor_si256(r, _mm256_slli_epi32(x, 14));
    return r;
}

// s1 of the words in 32-bit lanes 0 and 2 of each half, each 64-bit lane
// holding its word twice (a 64-bit shift then rotates the word).
RORX_INLINE __m256i small_sigma1_doubled(__m256i y) {
    __m256i r = _mm256_srli_epi32(y, 10);
    r = _mm256_xor_si256(r, _mm256_srli_epi64(y, 17));
    r = _mm256_xor_si256(r, _mm256_srli_epi64(y, 19));
    return r;
}

// Given W[t-16..t-1] of both blocks in x0..x3, returns W[t..t+3] of both.
RORX_INLINE __m256i schedule(__m256i x0, __m256i x1, __m256i x2, __m256i x3) {
    const __m256i low_pair = _mm256_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                              0, 1, 2, 3, 8, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i high_pair = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 8, 9, 10, 11,  //
                                               -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 8, 9, 10, 11);
    const __m256i w15 = _mm256_alignr_epi8(x1, x0, 4);
    const __m256i w7 = _mm256_alignr_epi8(x3, x2, 4);
    __m256i t = _mm256_add_epi32(_mm256_add_epi32(x0, w7), small_sigma0(w15));
    __m256i s = small_sigma1_doubled(_mm256_shuffle_epi32(x3, _MM_SHUFFLE(3, 3, 2, 2)));
    t = _mm256_add_epi32(t, _mm256_shuffle_epi8(s, low_pair));
    s = small_sigma1_doubled(_mm256_shuffle_epi32(t, _MM_SHUFFLE(1, 1, 0, 0)));
    return _mm256_add_epi32(t, _mm256_shuffle_epi8(s, high_pair));
}

// Sixteen message bytes of the first block in the low half, of the second in
// the high half, as big-endian words.
RORX_INLINE __m256i load_be_pair(const unsigned char* first, const unsigned char* second) {
    const __m256i swap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,  //
                                          3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    const __m256i both = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), 1);
    return _mm256_shuffle_epi8(both, swap);
}

RORX_INLINE __m256i k8(int t) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(kK2.k + 2 * t)); }

}  // namespace

// W[t] + K[t] of both blocks: group t/4 of four words of the first block,
// then the same group of the second, eight words per group.
#define RORX_WK_FIRST(i) wk[((i) / 4) * 8 + (i) % 4]

// Saves W[t..t+3] + K of both blocks from x0. The empty asm tells the compiler
// the saved words may have changed, so the steps read them from memory (a load
// folded into an add) instead of extracting them from the vector register.
#define RORX_SAVE_WK(x0, t)                                                                      \
    _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 2 * (t)), _mm256_add_epi32(x0, k8(t)));  \
    __asm__("" : "+m"(*reinterpret_cast<__m256i*>(wk + 2 * (t))))

// Four steps t..t+3 of the first block, while x0 becomes W[t+16..t+19] of
// both blocks and their sums with K are saved sixteen steps ahead of use (so
// the store has long completed when the steps read them).
#define RORX_STEP4(x0, x1, x2, x3, t, a, b, c, d, e, f, g, h) \
    x0 = schedule(x0, x1, x2, x3);                             \
    RORX_SAVE_WK(x0, (t) + 16);                                \
    SHA256_FOUR_ROUNDS(a, b, c, d, e, f, g, h, RORX_WK_FIRST, t, mx, my)

#define RORX_SIXTEEN_SCHEDULED(t)                                \
    RORX_STEP4(x0, x1, x2, x3, (t) + 0, a, b, c, d, e, f, g, h); \
    RORX_STEP4(x1, x2, x3, x0, (t) + 4, e, f, g, h, a, b, c, d); \
    RORX_STEP4(x2, x3, x0, x1, (t) + 8, a, b, c, d, e, f, g, h); \
    RORX_STEP4(x3, x0, x1, x2, (t) + 12, e, f, g, h, a, b, c, d)

#define RORX_ADD_STATE() \
    a = state[0] += a;   \
    b = state[1] += b;   \
    c = state[2] += c;   \
    d = state[3] += d;   \
    e = state[4] += e;   \
    f = state[5] += f;   \
    g = state[6] += g;   \
    h = state[7] += h

namespace {

// Compresses `first` and, when `both`, `second` (the high halves carry its
// schedule; with only one block they repeat the first and are ignored).
// Kept out of line so that the one- and two-block calls share one copy.
__attribute__((noinline, target("avx2,bmi2"))) RORX_SCHEDULED void rorx_pair(const unsigned char* first,
                                                                               const unsigned char* second, bool both,
                                                                               uint32_t* state, uint32_t* wk) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t mx, my = b ^ c;
    __m256i x0 = load_be_pair(first, second);
    __m256i x1 = load_be_pair(first + 16, second + 16);
    __m256i x2 = load_be_pair(first + 32, second + 32);
    __m256i x3 = load_be_pair(first + 48, second + 48);

    RORX_SAVE_WK(x0, 0);
    RORX_SAVE_WK(x1, 4);
    RORX_SAVE_WK(x2, 8);
    RORX_SAVE_WK(x3, 12);
    RORX_SIXTEEN_SCHEDULED(0);
    RORX_SIXTEEN_SCHEDULED(16);
    RORX_SIXTEEN_SCHEDULED(32);
    SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, RORX_WK_FIRST, 48, mx, my);
    RORX_ADD_STATE();

    if (!both)
        return;
    // The second block's schedule is already saved (the high half of each
    // group of eight words): its steps need no vector work.
    my = b ^ c;
    for (const uint32_t* w = wk + 4; w < wk + 128; w += 32) {
#define RORX_WK_LOOP(i) w[((i) / 4) * 8 + (i) % 4]
        SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, RORX_WK_LOOP, 0, mx, my);
#undef RORX_WK_LOOP
    }
    RORX_ADD_STATE();
}

}  // namespace

__attribute__((target("avx2,bmi2"))) void sha256_rorx(const void* data, uint32_t* state, uint64_t blocks) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    alignas(32) uint32_t wk[128];
    for (; blocks >= 2; blocks -= 2, p += 128)
        rorx_pair(p, p + 64, true, state, wk);
    if (blocks == 1)
        rorx_pair(p, p, false, state, wk);
    _mm256_zeroupper();
}

}  // namespace hxcrypto

#endif  // __x86_64__
