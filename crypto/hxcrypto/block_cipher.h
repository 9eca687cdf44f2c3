#pragma once
// Keyed permutation of fixed-size blocks. An object is keyed for one
// direction by init and then transforms single blocks or runs of blocks.

#include <cstddef>

namespace hxcrypto {

class block_cipher {
public:
    enum direction { encryption = 0, decryption = 1 };

    block_cipher() = default;
    block_cipher(const block_cipher&) = delete;
    block_cipher& operator=(const block_cipher&) = delete;

    // Wipes the key schedule (implementations call clear in their destructor).
    virtual ~block_cipher() = default;

    // Block size in bits. Never fails.
    virtual size_t blocksize() const = 0;

    // Key size in bits; init reads keysize()/8 bytes. Never fails.
    virtual size_t keysize() const = 0;

    // A new cipher of the same kind without a key, allocated with new and
    // owned by the caller. It needs init before its first block.
    virtual block_cipher* clone() const = 0;

    // Wipes the key schedule; the object then needs init again. Never fails.
    virtual void clear() = 0;

    // Builds the key schedule for one direction from keysize()/8 bytes at key.
    // Returns true when the schedule is built, false when key is null.
    virtual bool init(const unsigned char* key, direction dir) = 0;

    // Transforms one block from in to out; in and out may be the same buffer.
    // Needs a schedule built for encryption (decryption); never fails.
    virtual void encrypt_block(const unsigned char* in, unsigned char* out) = 0;
    virtual void decrypt_block(const unsigned char* in, unsigned char* out) = 0;

    // n consecutive blocks, in and out advancing by blocksize()/8 bytes after
    // each; the same as n calls of encrypt_block (decrypt_block).
    virtual void encrypt_blocks(const unsigned char* in, unsigned char* out, size_t n);
    virtual void decrypt_blocks(const unsigned char* in, unsigned char* out, size_t n);
};

}  // namespace hxcrypto
