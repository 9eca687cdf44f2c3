#pragma once
// One SHA-256 step on eight named working variables, shared by the portable
// block function and the vector kernels (which compute the message schedule
// in vector registers and run the steps on ordinary registers).
//
// SHA256_ROUND(a, ..., h, wk, x, y) with wk = W[t] + K[t] leaves the new 'a'
// in h and the new 'e' in d, so the next step is SHA256_ROUND(h, a, ..., g,
// wk', y, x). Maj(a, b, c) is computed as ((a ^ b) & (b ^ c)) ^ b, where b ^ c
// is the previous step's a ^ b: the step leaves a ^ b in x and reads b ^ c
// from y. Before a block's first step, y must hold b ^ c.

#include <cstdint>

#define SHA256_ROTR(x, n) (((x) >> (n)) | ((x) << (32 - (n))))
#define SHA256_BIG_S0(a) (SHA256_ROTR(a, 2) ^ SHA256_ROTR(a, 13) ^ SHA256_ROTR(a, 22))
#define SHA256_BIG_S1(e) (SHA256_ROTR(e, 6) ^ SHA256_ROTR(e, 11) ^ SHA256_ROTR(e, 25))
#define SHA256_SMALL_S0(x) (SHA256_ROTR(x, 7) ^ SHA256_ROTR(x, 18) ^ ((x) >> 3))
#define SHA256_SMALL_S1(x) (SHA256_ROTR(x, 17) ^ SHA256_ROTR(x, 19) ^ ((x) >> 10))
#define SHA256_CH(e, f, g) ((((f) ^ (g)) & (e)) ^ (g))

#define SHA256_ROUND(a, b, c, d, e, f, g, h, wk, x, y)       \
    do {                                                      \
        (h) += (wk);                                          \
        (h) += SHA256_CH(e, f, g);                            \
        (h) += SHA256_BIG_S1(e);                              \
        (d) += (h);                                           \
        (x) = (a) ^ (b);                                      \
        (h) += (((x) & (y)) ^ (b));                           \
        (h) += SHA256_BIG_S0(a);                              \
    } while (0)

// Four steps t..t+3 (the variables' roles turn by four).
#define SHA256_FOUR_ROUNDS(a, b, c, d, e, f, g, h, WK, t, x, y) \
    SHA256_ROUND(a, b, c, d, e, f, g, h, WK((t) + 0), x, y);    \
    SHA256_ROUND(h, a, b, c, d, e, f, g, WK((t) + 1), y, x);    \
    SHA256_ROUND(g, h, a, b, c, d, e, f, WK((t) + 2), x, y);    \
    SHA256_ROUND(f, g, h, a, b, c, d, e, WK((t) + 3), y, x)

// Eight steps t..t+7; after them the variables hold their roles again.
#define SHA256_EIGHT_ROUNDS(a, b, c, d, e, f, g, h, WK, t, x, y) \
    SHA256_FOUR_ROUNDS(a, b, c, d, e, f, g, h, WK, t, x, y);     \
    SHA256_FOUR_ROUNDS(e, f, g, h, a, b, c, d, WK, (t) + 4, x, y)

// Sixteen steps t..t+15.
#define SHA256_SIXTEEN_ROUNDS(a, b, c, d, e, f, g, h, WK, t, x, y) \
    SHA256_EIGHT_ROUNDS(a, b, c, d, e, f, g, h, WK, t, x, y);      \
    SHA256_EIGHT_ROUNDS(a, b, c, d, e, f, g, h, WK, (t) + 8, x, y)

// The frame of a block function around its steps. SHA256_LOAD_WORKING(s)
// declares a..h from the chaining words s[0..7] and SHA256_STORE_WORKING(s)
// writes them back. Per block, SHA256_BLOCK_BEGIN() keeps a..h in a0..h0 and
// declares the Maj helpers mx and my (my = b ^ c for the first step);
// SHA256_BLOCK_END() adds the kept words back in.
#define SHA256_LOAD_WORKING(s)                                      \
    uint32_t a = (s)[0], b = (s)[1], c = (s)[2], d = (s)[3];        \
    uint32_t e = (s)[4], f = (s)[5], g = (s)[6], h = (s)[7]

#define SHA256_STORE_WORKING(s) \
    (s)[0] = a;                 \
    (s)[1] = b;                 \
    (s)[2] = c;                 \
    (s)[3] = d;                 \
    (s)[4] = e;                 \
    (s)[5] = f;                 \
    (s)[6] = g;                 \
    (s)[7] = h

#define SHA256_BLOCK_BEGIN()                                                              \
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;        \
    uint32_t mx, my = b ^ c

#define SHA256_BLOCK_END() \
    a += a0;               \
    b += b0;               \
    c += c0;               \
    d += d0;               \
    e += e0;               \
    f += f0;               \
    g += g0;               \
    h += h0
