#pragma once
// Kuznyechik, the block cipher of GOST R 34.12-2015: 128-bit blocks, 256-bit
// keys. Blocks and keys are byte strings in the order in which the standard
// writes their hexadecimal values: byte 0 is the most significant byte (a15).

#include <cstddef>
#include <cstdint>

#include "crypto/hxcrypto/block_cipher.h"

namespace hxcrypto {

class kuznyechik : public block_cipher {
public:
    kuznyechik();
    ~kuznyechik() override;

    // 128 and 256. Never fail.
    size_t blocksize() const override;
    size_t keysize() const override;

    // A new kuznyechik without a key, owned by the caller.
    block_cipher* clone() const override;

    // Sets the 160 bytes of round keys to zero.
    void clear() override;

    // Builds the ten round keys from 32 key bytes; for decryption round keys
    // 1 to 9 are kept under the inverse linear transform. Returns true; false
    // only for a null key, which leaves the schedule wiped.
    bool init(const unsigned char* key, direction dir) override;

    // One block; in and out may be the same buffer. A schedule built for the
    // other direction gives a wrong block.
    void encrypt_block(const unsigned char* in, unsigned char* out) override;
    void decrypt_block(const unsigned char* in, unsigned char* out) override;

    // n blocks, the same as n calls of encrypt_block; four blocks at a time
    // go through the rounds side by side so that their table lookups overlap.
    void encrypt_blocks(const unsigned char* in, unsigned char* out, size_t n) override;

    // Round key i (0 to 9) of the current schedule, 16 bytes in block order.
    void round_key(size_t i, unsigned char out[16]) const;

    // The standard's transforms on one 16-byte block, computed from their
    // definitions (not from the lookup tables): the substitution S, one step
    // R of the linear transform, L = R applied sixteen times, and L's inverse.
    // in and out may be the same buffer.
    static void apply_s(const unsigned char in[16], unsigned char out[16]);
    static void apply_r(const unsigned char in[16], unsigned char out[16]);
    static void apply_l(const unsigned char in[16], unsigned char out[16]);
    static void apply_inverse_l(const unsigned char in[16], unsigned char out[16]);

    // Iteration constant C_i = L(Vec128(i)) of the key schedule, i from 1 to 32.
    static void iteration_constant(unsigned i, unsigned char out[16]);

private:
    // Ten round keys, each as two 64-bit words: bytes 0-7 and 8-15 of the key
    // in block order, read as little-endian words.
    uint64_t rk[10][2];
};

}  // namespace hxcrypto
