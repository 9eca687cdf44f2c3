#pragma once
// Counter mode over any block cipher: the keystream is the encryption of
// successive counter blocks, the whole counter block counting up as one
// big-endian integer. Encryption and decryption are the same XOR.

#include <cstddef>
#include <memory>

#include "crypto/hxcrypto/block_cipher.h"
#include "crypto/hxcrypto/stream_cipher.h"

namespace hxcrypto {

class ctr : public stream_cipher {
public:
    // Works over a keyless clone of cipher; cipher itself is not used again.
    explicit ctr(const block_cipher& cipher);
    ~ctr() override;

    // The cipher's key size and block size, in bits.
    size_t keysize() const override;
    size_t ivsize() const override;

    // A new ctr over a further clone of the cipher, without a key.
    stream_cipher* clone() const override;

    // Zeroes the keystream block and the counter and wipes the cipher's key.
    void clear() override;

    // Keys the cipher for encryption with the first keysize()/8 bytes of key
    // and sets the counter block to iv followed by zero bytes. Returns true;
    // false (object wiped, without a key) when keylen < keysize()/8, ivlen >
    // ivsize()/8, key is null or iv is null while ivlen > 0.
    bool init(const unsigned char* key, size_t keylen, const unsigned char* iv, size_t ivlen) override;

    // XORs the text with the continuing keystream; out may be in. Returns
    // true; false, writing nothing, without a key or with a null pointer.
    bool encrypt(const unsigned char* in, size_t len, unsigned char* out) override;
    bool decrypt(const unsigned char* in, size_t len, unsigned char* out) override;

private:
    std::unique_ptr<unsigned char[]> block_;  // current keystream block
    std::unique_ptr<unsigned char[]> iv_;     // counter block of the next keystream block
    size_t pos;                               // bytes of block_ used; 0 or nb_ when none pending
    size_t nb_;                               // block size in bytes
    std::unique_ptr<block_cipher> cipher_;
    bool keyed_ = false;                      // init succeeded and no clear since
};

}  // namespace hxcrypto
