#pragma once
// HMAC (RFC 2104) over any hash of the hash-function interface; itself a hash
// of that interface, so hash_string on it computes a whole MAC.

#include <cstddef>
#include <memory>
#include <string>

#include "crypto/hxcrypto/crypto_hash.h"

namespace hxcrypto {

class hmac : public crypto_hash {
public:
    // Keys a MAC over a clone of `hash` (the caller's object is not kept) with
    // the key's bytes; a MAC then starts with init. Throws std::bad_alloc only.
    hmac(const crypto_hash& hash, const std::string& key);
    hmac(const crypto_hash& hash, const unsigned char* key, size_t keylen);
    ~hmac() override;

    // Starts a MAC: the inner hash absorbs the inner key block.
    void init() override;
    // Absorbs len bytes of the message into the inner hash.
    void update(const unsigned char* data, size_t len) override;
    // Writes the MAC, hashsize()/8 bytes; the next MAC needs init.
    void final(unsigned char* hash) override;
    // The inner hash's digest size, in bits.
    size_t hashsize() const override { return hash_->hashsize(); }
    // The inner hash's block size, in bits.
    size_t blocksize() const override { return hash_->blocksize(); }
    // A new hmac with the same key and a fresh inner hash (needs init).
    crypto_hash* clone() const override;
    // Wipes the inner hash's state; the key blocks stay until destruction.
    void clear() override;

private:
    void construct(const unsigned char* key, size_t keylen);
    size_t key_block_bytes() const { return hash_->blocksize() / 8; }

    std::unique_ptr<unsigned char[]> ipad_;
    std::unique_ptr<unsigned char[]> opad_;
    std::unique_ptr<crypto_hash> hash_;
};

}  // namespace hxcrypto
