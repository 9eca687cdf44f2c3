#pragma once
// The hash-function interface of the crypto library: SHA-256, SHA-224, MD5 and
// HMAC over any of them are driven through it (init, update..., final).

#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace hxcrypto {

class crypto_hash {
public:
    crypto_hash() = default;
    crypto_hash(const crypto_hash&) = delete;
    crypto_hash& operator=(const crypto_hash&) = delete;

    virtual ~crypto_hash() = default;
    // Starts a new digest. Never fails.
    virtual void init() = 0;
    // Absorbs len bytes of data into the digest started by init. Never fails.
    virtual void update(const unsigned char* data, size_t len) = 0;
    // Completes the message and writes hashsize()/8 bytes to hash; the object
    // then needs init before the next message. Never fails.
    virtual void final(unsigned char* hash) = 0;
    // Digest size in bits.
    virtual size_t hashsize() const = 0;
    // Block size in bits.
    virtual size_t blocksize() const = 0;
    // A new object of the same kind, owned by the caller, with no message state
    // (it needs init); throws std::bad_alloc only.
    virtual crypto_hash* clone() const = 0;
    // Wipes the chaining state and the waiting block; the object needs init after.
    virtual void clear() = 0;

    // Digest of one buffer: init, update, final. Writes hashsize()/8 bytes.
    void hash_string(const unsigned char* data, size_t len, unsigned char* hash) {
        init();
        update(data, len);
        final(hash);
    }
    void hash_string(const char* data, size_t len, unsigned char* hash) {
        hash_string(reinterpret_cast<const unsigned char*>(data), len, hash);
    }
    void hash_string(const std::string& data, unsigned char* hash) {
        hash_string(data.data(), data.size(), hash);
    }

protected:
    // Returns when hs (bits) is a non-zero multiple of 8 not above max;
    // otherwise throws std::runtime_error naming the first rule broken.
    void validate_hash_size(size_t hs, size_t max) const {
        if (hs == 0)
            throw std::runtime_error("hash size can't be zero");
        if (hs % 8 != 0)
            throw std::runtime_error("hxcrypto does not support non-byte hash sizes");
        if (hs > max)
            throw std::runtime_error("invalid hash size");
    }
    // Returns when hs is non-zero and one of set; otherwise throws std::runtime_error.
    void validate_hash_size(size_t hs, std::initializer_list<size_t> set) const {
        if (hs == 0)
            throw std::runtime_error("hash size can't be zero");
        for (size_t allowed : set)
            if (hs == allowed)
                return;
        throw std::runtime_error("invalid hash size");
    }
};

}  // namespace hxcrypto
