#pragma once
// One SHA-256 step on eight named working variables, shared by the portable
// block function and the vector kernels (which compute the message schedule
// in vector registers and run the steps on ordinary registers).
//
// SHA256_ROUND(a, ..., h, wk) with wk = W[t] + K[t] leaves the new 'a' in h
// and the new 'e' in d, so the next step is SHA256_ROUND(h, a, ..., g, wk').

#include <cstdint>

#define SHA256_ROTR(x, n) (((x) >> (n)) | ((x) << (32 - (n))))
#define SHA256_BIG_S0(a) (SHA256_ROTR(a, 2) ^ SHA256_ROTR(a, 13) ^ SHA256_ROTR(a, 22))
#define SHA256_BIG_S1(e) (SHA256_ROTR(e, 6) ^ SHA256_ROTR(e, 11) ^ SHA256_ROTR(e, 25))
#define SHA256_SMALL_S0(x) (SHA256_ROTR(x, 7) ^ SHA256_ROTR(x, 18) ^ ((x) >> 3))
#define SHA256_SMALL_S1(x) (SHA256_ROTR(x, 17) ^ SHA256_ROTR(x, 19) ^ ((x) >> 10))
#define SHA256_CH(e, f, g) ((((f) ^ (g)) & (e)) ^ (g))
#define SHA256_MAJ(a, b, c) ((((a) | (b)) & (c)) | ((a) & (b)))

#define SHA256_ROUND(a, b, c, d, e, f, g, h, wk)                                  \
    do {                                                                           \
        const uint32_t sha256_t1_ = (h) + SHA256_BIG_S1(e) + SHA256_CH(e, f, g) + (wk); \
        (d) += sha256_t1_;                                                         \
        (h) = sha256_t1_ + SHA256_BIG_S0(a) + SHA256_MAJ(a, b, c);                 \
    } while (0)

// Eight steps; after them the variables hold their roles again.
#define SHA256_EIGHT_ROUNDS(a, b, c, d, e, f, g, h, WK, i) \
    SHA256_ROUND(a, b, c, d, e, f, g, h, WK(i + 0));      \
    SHA256_ROUND(h, a, b, c, d, e, f, g, WK(i + 1));      \
    SHA256_ROUND(g, h, a, b, c, d, e, f, WK(i + 2));      \
    SHA256_ROUND(f, g, h, a, b, c, d, e, WK(i + 3));      \
    SHA256_ROUND(e, f, g, h, a, b, c, d, WK(i + 4));      \
    SHA256_ROUND(d, e, f, g, h, a, b, c, WK(i + 5));      \
    SHA256_ROUND(c, d, e, f, g, h, a, b, WK(i + 6));      \
    SHA256_ROUND(b, c, d, e, f, g, h, a, WK(i + 7))
