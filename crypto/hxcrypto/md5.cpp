#include "crypto/hxcrypto/md5.h"

#include <cstring>

#include "crypto/hxcrypto/block_buffer.h"

namespace hxcrypto {
namespace {

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t load_le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void store_le32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The four auxiliary functions, in forms that need few instructions:
// F picks c or d by b; G picks b or c by d, and its two halves never share a
// bit, so they can be added separately; I is c ^ (b | ~d).
#define MD5_F(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

#define MD5_STEP_F(a, b, c, d, x, t, s) \
    a += MD5_F(b, c, d) + (x) + (t);    \
    a = rotl(a, s) + (b)
#define MD5_STEP_G(a, b, c, d, x, t, s)          \
    a += ((~(d)) & (c)) + (x) + (t);             \
    a += ((d) & (b));                            \
    a = rotl(a, s) + (b)
#define MD5_STEP_H(a, b, c, d, x, t, s) \
    a += MD5_H(b, c, d) + (x) + (t);    \
    a = rotl(a, s) + (b)
#define MD5_STEP_I(a, b, c, d, x, t, s) \
    a += MD5_I(b, c, d) + (x) + (t);    \
    a = rotl(a, s) + (b)

}  // namespace

md5::md5() : m{}, pos(0), total(0) {
    // Zeroed so that a digest taken without init is at least deterministic.
    std::memset(H.get(), 0, H.bytes());
}

md5::~md5() { clear(); }

void md5::init() {
    H[0] = 0x67452301u;
    H[1] = 0xefcdab89u;
    H[2] = 0x98badcfeu;
    H[3] = 0x10325476u;
    pos = 0;
    total = 0;
}

void md5::clear() {
    secure_wipe(H.get(), H.bytes());
    secure_wipe(m, sizeof m);
}

void md5::transform(const unsigned char* blocks, uint64_t count) {
    uint32_t a0 = H[0], b0 = H[1], c0 = H[2], d0 = H[3];
    for (; count > 0; --count, blocks += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = load_le32(blocks + 4 * i);
        uint32_t a = a0, b = b0, c = c0, d = d0;

        MD5_STEP_F(a, b, c, d, x[0], 0xd76aa478u, 7);
        MD5_STEP_F(d, a, b, c, x[1], 0xe8c7b756u, 12);
        MD5_STEP_F(c, d, a, b, x[2], 0x242070dbu, 17);
        MD5_STEP_F(b, c, d, a, x[3], 0xc1bdceeeu, 22);
        MD5_STEP_F(a, b, c, d, x[4], 0xf57c0fafu, 7);
        MD5_STEP_F(d, a, b, c, x[5], 0x4787c62au, 12);
        MD5_STEP_F(c, d, a, b, x[6], 0xa8304613u, 17);
        MD5_STEP_F(b, c, d, a, x[7], 0xfd469501u, 22);
        MD5_STEP_F(a, b, c, d, x[8], 0x698098d8u, 7);
        MD5_STEP_F(d, a, b, c, x[9], 0x8b44f7afu, 12);
        MD5_STEP_F(c, d, a, b, x[10], 0xffff5bb1u, 17);
        MD5_STEP_F(b, c, d, a, x[11], 0x895cd7beu, 22);
        MD5_STEP_F(a, b, c, d, x[12], 0x6b901122u, 7);
        MD5_STEP_F(d, a, b, c, x[13], 0xfd987193u, 12);
        MD5_STEP_F(c, d, a, b, x[14], 0xa679438eu, 17);
        MD5_STEP_F(b, c, d, a, x[15], 0x49b40821u, 22);

        MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562u, 5);
        MD5_STEP_G(d, a, b, c, x[6], 0xc040b340u, 9);
        MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51u, 14);
        MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aau, 20);
        MD5_STEP_G(a, b, c, d, x[5], 0xd62f105du, 5);
        MD5_STEP_G(d, a, b, c, x[10], 0x02441453u, 9);
        MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681u, 14);
        MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8u, 20);
        MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6u, 5);
        MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6u, 9);
        MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87u, 14);
        MD5_STEP_G(b, c, d, a, x[8], 0x455a14edu, 20);
        MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905u, 5);
        MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8u, 9);
        MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9u, 14);
        MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8au, 20);

        MD5_STEP_H(a, b, c, d, x[5], 0xfffa3942u, 4);
        MD5_STEP_H(d, a, b, c, x[8], 0x8771f681u, 11);
        MD5_STEP_H(c, d, a, b, x[11], 0x6d9d6122u, 16);
        MD5_STEP_H(b, c, d, a, x[14], 0xfde5380cu, 23);
        MD5_STEP_H(a, b, c, d, x[1], 0xa4beea44u, 4);
        MD5_STEP_H(d, a, b, c, x[4], 0x4bdecfa9u, 11);
        MD5_STEP_H(c, d, a, b, x[7], 0xf6bb4b60u, 16);
        MD5_STEP_H(b, c, d, a, x[10], 0xbebfbc70u, 23);
        MD5_STEP_H(a, b, c, d, x[13], 0x289b7ec6u, 4);
        MD5_STEP_H(d, a, b, c, x[0], 0xeaa127fau, 11);
        MD5_STEP_H(c, d, a, b, x[3], 0xd4ef3085u, 16);
        MD5_STEP_H(b, c, d, a, x[6], 0x04881d05u, 23);
        MD5_STEP_H(a, b, c, d, x[9], 0xd9d4d039u, 4);
        MD5_STEP_H(d, a, b, c, x[12], 0xe6db99e5u, 11);
        MD5_STEP_H(c, d, a, b, x[15], 0x1fa27cf8u, 16);
        MD5_STEP_H(b, c, d, a, x[2], 0xc4ac5665u, 23);

        MD5_STEP_I(a, b, c, d, x[0], 0xf4292244u, 6);
        MD5_STEP_I(d, a, b, c, x[7], 0x432aff97u, 10);
        MD5_STEP_I(c, d, a, b, x[14], 0xab9423a7u, 15);
        MD5_STEP_I(b, c, d, a, x[5], 0xfc93a039u, 21);
        MD5_STEP_I(a, b, c, d, x[12], 0x655b59c3u, 6);
        MD5_STEP_I(d, a, b, c, x[3], 0x8f0ccc92u, 10);
        MD5_STEP_I(c, d, a, b, x[10], 0xffeff47du, 15);
        MD5_STEP_I(b, c, d, a, x[1], 0x85845dd1u, 21);
        MD5_STEP_I(a, b, c, d, x[8], 0x6fa87e4fu, 6);
        MD5_STEP_I(d, a, b, c, x[15], 0xfe2ce6e0u, 10);
        MD5_STEP_I(c, d, a, b, x[6], 0xa3014314u, 15);
        MD5_STEP_I(b, c, d, a, x[13], 0x4e0811a1u, 21);
        MD5_STEP_I(a, b, c, d, x[4], 0xf7537e82u, 6);
        MD5_STEP_I(d, a, b, c, x[11], 0xbd3af235u, 10);
        MD5_STEP_I(c, d, a, b, x[2], 0x2ad7d2bbu, 15);
        MD5_STEP_I(b, c, d, a, x[9], 0xeb86d391u, 21);

        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
    H[0] = a0;
    H[1] = b0;
    H[2] = c0;
    H[3] = d0;
}

void md5::update(const unsigned char* data, size_t len) {
    auto compress = [this](const unsigned char* blocks, uint64_t count) { transform(blocks, count); };
    absorb_blocks(m, pos, total, data, len, compress);
}

void md5::final(unsigned char* hash) {
    auto compress = [this](const unsigned char* blocks, uint64_t count) { transform(blocks, count); };
    pad_last_block<false>(m, pos, total, compress);
    for (int i = 0; i < 4; ++i)
        store_le32(hash + 4 * i, H[i]);
}

}  // namespace hxcrypto
