#include "crypto/hxcrypto/kuznyechik.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hxcrypto {

namespace {

// The substitution pi of GOST R 34.12-2015, as the standard lists it.
constexpr unsigned char kPi[256] = {
    252, 238, 221, 17,  207, 110, 49,  22,  251, 196, 250, 218, 35,  197, 4,   77,
    233, 119, 240, 219, 147, 46,  153, 186, 23,  54,  241, 187, 20,  205, 95,  193,
    249, 24,  101, 90,  226, 92,  239, 33,  129, 28,  60,  66,  139, 1,   142, 79,
    5,   132, 2,   174, 227, 106, 143, 160, 6,   11,  237, 152, 127, 212, 211, 31,
    235, 52,  44,  81,  234, 200, 72,  171, 242, 42,  104, 162, 253, 58,  206, 204,
    181, 112, 14,  86,  8,   12,  118, 18,  191, 114, 19,  71,  156, 183, 93,  135,
    21,  161, 150, 41,  16,  123, 154, 199, 243, 145, 120, 111, 157, 158, 178, 177,
    50,  117, 25,  61,  255, 53,  138, 126, 109, 84,  198, 128, 195, 189, 13,  87,
    223, 245, 36,  169, 62,  168, 67,  201, 215, 121, 214, 246, 124, 34,  185, 3,
    224, 15,  236, 222, 122, 148, 176, 188, 220, 232, 40,  80,  78,  51,  10,  74,
    167, 151, 96,  115, 30,  0,   98,  68,  26,  184, 56,  130, 100, 159, 38,  65,
    173, 69,  70,  146, 39,  94,  85,  47,  140, 163, 165, 125, 105, 213, 149, 59,
    7,   88,  179, 64,  134, 172, 29,  247, 48,  55,  107, 228, 136, 217, 231, 137,
    225, 27,  131, 73,  76,  63,  248, 254, 141, 83,  170, 144, 202, 216, 133, 97,
    32,  113, 103, 164, 45,  43,  9,   91,  203, 155, 37,  208, 190, 229, 108, 82,
    89,  166, 116, 210, 230, 244, 180, 192, 209, 102, 175, 194, 57,  75,  99,  182,
};

// Coefficients of the linear function l, for bytes 0 (a15) to 15 (a0).
constexpr unsigned char kLinear[16] = {148, 32, 133, 16, 194, 192, 1, 251,
                                       1, 192, 194, 16, 133, 32, 148, 1};

// Multiplication in GF(2^8) modulo p(x) = x^8 + x^7 + x^6 + x + 1.
unsigned char gf_mul(unsigned char a, unsigned char b) {
    unsigned char r = 0;
    while (b != 0) {
        if (b & 1) r ^= a;
        a = static_cast<unsigned char>((a << 1) ^ ((a & 0x80) ? 0xc3 : 0x00));
        b >>= 1;
    }
    return r;
}

// R: l of the whole block becomes byte 0, every byte moves one place on and
// the last byte (a0) drops out.
void r_step(unsigned char a[16]) {
    unsigned char l = 0;
    for (int k = 0; k < 16; ++k) l ^= gf_mul(a[k], kLinear[k]);
    std::memmove(a + 1, a, 15);
    a[0] = l;
}

// R's inverse: every byte moves one place back and the last byte becomes l
// of (a14, ..., a0, a15).
void r_inverse_step(unsigned char a[16]) {
    const unsigned char first = a[0];
    std::memmove(a, a + 1, 15);
    unsigned char l = gf_mul(first, kLinear[15]);
    for (int k = 0; k < 15; ++k) l ^= gf_mul(a[k], kLinear[k]);
    a[15] = l;
}

void l_transform(unsigned char a[16]) {
    for (int i = 0; i < 16; ++i) r_step(a);
}

void l_inverse_transform(unsigned char a[16]) {
    for (int i = 0; i < 16; ++i) r_inverse_step(a);
}

inline uint64_t load_word(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline void store_word(unsigned char* p, uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    std::memcpy(p, &v, 8);
}

// One 128-bit value as two words: bytes 0-7 and 8-15, little-endian, so that
// byte i of the block is byte i % 8 of word i / 8.
struct alignas(16) block128 {
    uint64_t w[2];
};

block128 to_block(const unsigned char* p) { return {{load_word(p), load_word(p + 8)}}; }

void from_block(const block128& b, unsigned char* p) {
    store_word(p, b.w[0]);
    store_word(p + 8, b.w[1]);
}

// The cipher's lookup tables, computed once from the definitions above.
struct tables {
    unsigned char S[256];      // pi
    unsigned char IS[256];     // pi's inverse
    block128 T[16][256];       // T[i][b] = L(pi(b) in byte i)
    block128 IT[16][256];      // IT[i][b] = L^-1(pi^-1(b) in byte i)
    block128 C[32];            // C[i - 1] = L(Vec128(i))

    tables() {
        for (int b = 0; b < 256; ++b) {
            S[b] = kPi[b];
            IS[kPi[b]] = static_cast<unsigned char>(b);
        }
        // L and its inverse are linear over GF(2^8): the image of the value v
        // in byte i is v times the image of 1 in byte i, byte by byte.
        for (int i = 0; i < 16; ++i) {
            unsigned char column[16] = {};
            unsigned char inverse_column[16] = {};
            column[i] = 1;
            inverse_column[i] = 1;
            l_transform(column);
            l_inverse_transform(inverse_column);
            for (int b = 0; b < 256; ++b) {
                unsigned char v[16];
                unsigned char u[16];
                for (int j = 0; j < 16; ++j) {
                    v[j] = gf_mul(S[b], column[j]);
                    u[j] = gf_mul(IS[b], inverse_column[j]);
                }
                T[i][b] = to_block(v);
                IT[i][b] = to_block(u);
            }
        }
        for (int i = 1; i <= 32; ++i) {
            unsigned char v[16] = {};
            v[15] = static_cast<unsigned char>(i);
            l_transform(v);
            C[i - 1] = to_block(v);
        }
    }
};

const tables& cipher_tables() {
    static const tables t;
    return t;
}

inline unsigned byte_of(uint64_t w, unsigned k) { return static_cast<unsigned>(w >> (8 * k)) & 0xff; }

// XOR of table[i][byte i of x] over the 16 bytes.
inline block128 lookup(const block128 (&table)[16][256], uint64_t lo, uint64_t hi) {
    uint64_t r0 = 0;
    uint64_t r1 = 0;
#pragma GCC unroll 8
    for (unsigned k = 0; k < 8; ++k) {
        const block128& e = table[k][byte_of(lo, k)];
        r0 ^= e.w[0];
        r1 ^= e.w[1];
    }
#pragma GCC unroll 8
    for (unsigned k = 0; k < 8; ++k) {
        const block128& e = table[8 + k][byte_of(hi, k)];
        r0 ^= e.w[0];
        r1 ^= e.w[1];
    }
    return {{r0, r1}};
}

// L^-1 alone: the tables' inverse substitution cancelled by pi first.
inline block128 ilss(const tables& t, uint64_t lo, uint64_t hi) {
    uint64_t r0 = 0;
    uint64_t r1 = 0;
    for (unsigned k = 0; k < 8; ++k) {
        const block128& a = t.IT[k][t.S[byte_of(lo, k)]];
        const block128& b = t.IT[8 + k][t.S[byte_of(hi, k)]];
        r0 ^= a.w[0] ^ b.w[0];
        r1 ^= a.w[1] ^ b.w[1];
    }
    return {{r0, r1}};
}

inline uint64_t inverse_substitute(const tables& t, uint64_t w) {
    uint64_t r = 0;
    for (unsigned k = 0; k < 8; ++k) r |= static_cast<uint64_t>(t.IS[byte_of(w, k)]) << (8 * k);
    return r;
}

#if defined(__SSE2__)
// The same lookup with 16-byte table entries in vector registers: one load
// and one XOR per byte, four chains of XORs side by side.
inline __m128i entry(const block128& b) { return _mm_load_si128(reinterpret_cast<const __m128i*>(&b)); }

inline __m128i lookup(const block128 (&table)[16][256], __m128i x) {
    const uint64_t lo = static_cast<uint64_t>(_mm_cvtsi128_si64(x));
    const uint64_t hi = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(x, x)));
    __m128i a = entry(table[0][byte_of(lo, 0)]);
    __m128i b = entry(table[1][byte_of(lo, 1)]);
    __m128i c = entry(table[8][byte_of(hi, 0)]);
    __m128i d = entry(table[9][byte_of(hi, 1)]);
    a = _mm_xor_si128(a, entry(table[2][byte_of(lo, 2)]));
    b = _mm_xor_si128(b, entry(table[3][byte_of(lo, 3)]));
    c = _mm_xor_si128(c, entry(table[10][byte_of(hi, 2)]));
    d = _mm_xor_si128(d, entry(table[11][byte_of(hi, 3)]));
    a = _mm_xor_si128(a, entry(table[4][byte_of(lo, 4)]));
    b = _mm_xor_si128(b, entry(table[5][byte_of(lo, 5)]));
    c = _mm_xor_si128(c, entry(table[12][byte_of(hi, 4)]));
    d = _mm_xor_si128(d, entry(table[13][byte_of(hi, 5)]));
    a = _mm_xor_si128(a, entry(table[6][byte_of(lo, 6)]));
    b = _mm_xor_si128(b, entry(table[7][byte_of(lo, 7)]));
    c = _mm_xor_si128(c, entry(table[14][byte_of(hi, 6)]));
    d = _mm_xor_si128(d, entry(table[15][byte_of(hi, 7)]));
    return _mm_xor_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
}

inline __m128i round_key_vec(const uint64_t (&k)[2]) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(k)); }
#endif

}  // namespace

kuznyechik::kuznyechik() : rk{} {}

kuznyechik::~kuznyechik() { clear(); }

size_t kuznyechik::blocksize() const { return 128; }

size_t kuznyechik::keysize() const { return 256; }

block_cipher* kuznyechik::clone() const { return new kuznyechik(); }

void kuznyechik::clear() {
    // volatile stores so that wiping a schedule that dies right after is kept.
    volatile uint64_t* p = &rk[0][0];
    for (size_t i = 0; i < 20; ++i) p[i] = 0;
}

bool kuznyechik::init(const unsigned char* key, direction dir) {
    clear();
    if (key == nullptr) return false;
    const tables& t = cipher_tables();
    block128 k0 = to_block(key);
    block128 k1 = to_block(key + 16);
    rk[0][0] = k0.w[0];
    rk[0][1] = k0.w[1];
    rk[1][0] = k1.w[0];
    rk[1][1] = k1.w[1];
    for (unsigned j = 0; j < 4; ++j) {
        for (unsigned s = 0; s < 4; ++s) {
            const block128& ca = t.C[8 * j + 2 * s];
            block128 f = lookup(t.T, k0.w[0] ^ ca.w[0], k0.w[1] ^ ca.w[1]);
            k1.w[0] ^= f.w[0];
            k1.w[1] ^= f.w[1];
            const block128& cb = t.C[8 * j + 2 * s + 1];
            f = lookup(t.T, k1.w[0] ^ cb.w[0], k1.w[1] ^ cb.w[1]);
            k0.w[0] ^= f.w[0];
            k0.w[1] ^= f.w[1];
        }
        rk[2 * j + 2][0] = k0.w[0];
        rk[2 * j + 2][1] = k0.w[1];
        rk[2 * j + 3][0] = k1.w[0];
        rk[2 * j + 3][1] = k1.w[1];
    }
    if (dir == decryption) {
        for (unsigned i = 1; i < 10; ++i) {
            const block128 v = ilss(t, rk[i][0], rk[i][1]);
            rk[i][0] = v.w[0];
            rk[i][1] = v.w[1];
        }
    }
    return true;
}

void kuznyechik::encrypt_block(const unsigned char* in, unsigned char* out) {
    const tables& t = cipher_tables();
#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    for (unsigned i = 0; i < 9; ++i) x = lookup(t.T, _mm_xor_si128(x, round_key_vec(rk[i])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(x, round_key_vec(rk[9])));
#else
    uint64_t lo = load_word(in);
    uint64_t hi = load_word(in + 8);
    for (unsigned i = 0; i < 9; ++i) {
        const block128 x = lookup(t.T, lo ^ rk[i][0], hi ^ rk[i][1]);
        lo = x.w[0];
        hi = x.w[1];
    }
    store_word(out, lo ^ rk[9][0]);
    store_word(out + 8, hi ^ rk[9][1]);
#endif
}

void kuznyechik::encrypt_blocks(const unsigned char* in, unsigned char* out, size_t n) {
#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr size_t kWide = 4;
    const tables& t = cipher_tables();
    for (; n >= kWide; n -= kWide, in += 16 * kWide, out += 16 * kWide) {
        __m128i x[kWide];
#pragma GCC unroll 16
        for (size_t b = 0; b < kWide; ++b) x[b] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * b));
        for (unsigned i = 0; i < 9; ++i) {
            const __m128i k = round_key_vec(rk[i]);
#pragma GCC unroll 16
            for (size_t b = 0; b < kWide; ++b) x[b] = lookup(t.T, _mm_xor_si128(x[b], k));
        }
        const __m128i k = round_key_vec(rk[9]);
#pragma GCC unroll 16
        for (size_t b = 0; b < kWide; ++b)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * b), _mm_xor_si128(x[b], k));
    }
#endif
    for (; n > 0; --n, in += 16, out += 16) kuznyechik::encrypt_block(in, out);
}

void kuznyechik::decrypt_block(const unsigned char* in, unsigned char* out) {
    const tables& t = cipher_tables();
    block128 x = ilss(t, load_word(in), load_word(in + 8));
#if defined(__SSE2__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    __m128i v = entry(x);
    for (unsigned i = 9; i >= 2; --i) v = lookup(t.IT, _mm_xor_si128(v, round_key_vec(rk[i])));
    _mm_store_si128(reinterpret_cast<__m128i*>(&x), v);
#else
    for (unsigned i = 9; i >= 2; --i) x = lookup(t.IT, x.w[0] ^ rk[i][0], x.w[1] ^ rk[i][1]);
#endif
    store_word(out, inverse_substitute(t, x.w[0] ^ rk[1][0]) ^ rk[0][0]);
    store_word(out + 8, inverse_substitute(t, x.w[1] ^ rk[1][1]) ^ rk[0][1]);
}

void kuznyechik::round_key(size_t i, unsigned char out[16]) const {
    if (i >= 10) {
        std::memset(out, 0, 16);
        return;
    }
    store_word(out, rk[i][0]);
    store_word(out + 8, rk[i][1]);
}

void kuznyechik::apply_s(const unsigned char in[16], unsigned char out[16]) {
    for (int k = 0; k < 16; ++k) out[k] = kPi[in[k]];
}

void kuznyechik::apply_r(const unsigned char in[16], unsigned char out[16]) {
    unsigned char v[16];
    std::memcpy(v, in, 16);
    r_step(v);
    std::memcpy(out, v, 16);
}

void kuznyechik::apply_l(const unsigned char in[16], unsigned char out[16]) {
    unsigned char v[16];
    std::memcpy(v, in, 16);
    l_transform(v);
    std::memcpy(out, v, 16);
}

void kuznyechik::apply_inverse_l(const unsigned char in[16], unsigned char out[16]) {
    unsigned char v[16];
    std::memcpy(v, in, 16);
    l_inverse_transform(v);
    std::memcpy(out, v, 16);
}

void kuznyechik::iteration_constant(unsigned i, unsigned char out[16]) {
    if (i < 1 || i > 32) {
        std::memset(out, 0, 16);
        return;
    }
    from_block(cipher_tables().C[i - 1], out);
}

}  // namespace hxcrypto
