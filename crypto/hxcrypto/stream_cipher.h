#pragma once
// Keyed stream cipher: init sets the key and the initial value and starts a
// keystream that the following encrypt and decrypt calls continue.

#include <cstddef>

namespace hxcrypto {

class stream_cipher {
public:
    stream_cipher() = default;
    stream_cipher(const stream_cipher&) = delete;
    stream_cipher& operator=(const stream_cipher&) = delete;

    // Wipes key, counter and keystream (implementations call clear).
    virtual ~stream_cipher() = default;

    // Key size in bits. Never fails.
    virtual size_t keysize() const = 0;

    // Size of the initial value in bits (its longest accepted length).
    virtual size_t ivsize() const = 0;

    // A new stream cipher of the same kind without a key, allocated with new
    // and owned by the caller. It needs init before use.
    virtual stream_cipher* clone() const = 0;

    // Wipes key, counter and keystream; the object then needs init again.
    virtual void clear() = 0;

    // Sets the key (keylen bytes, at least keysize()/8) and the initial value
    // (ivlen bytes, at most ivsize()/8) and starts a new keystream. Returns
    // true on success; false for a short key, a long initial value or a null
    // pointer, leaving the object wiped and without a key.
    virtual bool init(const unsigned char* key, size_t keylen, const unsigned char* iv, size_t ivlen) = 0;

    // XORs len bytes of in with the continuing keystream into out (out may be
    // in). Returns true; false, writing nothing, when the object has no key or
    // a pointer is null while len > 0.
    virtual bool encrypt(const unsigned char* in, size_t len, unsigned char* out) = 0;
    virtual bool decrypt(const unsigned char* in, size_t len, unsigned char* out) = 0;
};

}  // namespace hxcrypto
