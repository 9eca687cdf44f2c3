#include "crypto/hxcrypto/hmac.h"

#include <algorithm>
#include <cstring>

#include "crypto/hxcrypto/aligned_pod_array.h"

namespace hxcrypto {

hmac::hmac(const crypto_hash& hash, const std::string& key) : hash_(hash.clone()) {
    construct(reinterpret_cast<const unsigned char*>(key.data()), key.size());
}

hmac::hmac(const crypto_hash& hash, const unsigned char* key, size_t keylen) : hash_(hash.clone()) {
    construct(key, keylen);
}

void hmac::construct(const unsigned char* key, size_t keylen) {
    const size_t b = key_block_bytes();
    ipad_.reset(new unsigned char[b]());
    opad_.reset(new unsigned char[b]());
    if (keylen > b) {
        // A key longer than a block is replaced by its digest.
        const size_t hs = hash_->hashsize() / 8;
        std::unique_ptr<unsigned char[]> digest(new unsigned char[hs]);
        hash_->hash_string(key, keylen, digest.get());
        const size_t n = std::min(hs, b);
        std::memcpy(ipad_.get(), digest.get(), n);
        std::memcpy(opad_.get(), digest.get(), n);
        secure_wipe(digest.get(), hs);
        hash_->clear();
    } else if (keylen > 0) {
        std::memcpy(ipad_.get(), key, keylen);
        std::memcpy(opad_.get(), key, keylen);
    }
    for (size_t i = 0; i < b; ++i) {
        ipad_[i] ^= 0x36;
        opad_[i] ^= 0x5c;
    }
}

hmac::~hmac() {
    clear();
    const size_t b = key_block_bytes();
    secure_wipe(ipad_.get(), b);
    secure_wipe(opad_.get(), b);
}

void hmac::init() {
    hash_->init();
    hash_->update(ipad_.get(), key_block_bytes());
}

void hmac::update(const unsigned char* data, size_t len) { hash_->update(data, len); }

void hmac::final(unsigned char* hash) {
    const size_t hs = hashsize() / 8;
    std::unique_ptr<unsigned char[]> inner(new unsigned char[hs]);
    hash_->final(inner.get());
    hash_->init();
    hash_->update(opad_.get(), key_block_bytes());
    hash_->update(inner.get(), hs);
    secure_wipe(inner.get(), hs);
    hash_->final(hash);
}

crypto_hash* hmac::clone() const {
    hmac* copy = new hmac(*hash_, nullptr, 0);
    const size_t b = key_block_bytes();
    std::memcpy(copy->ipad_.get(), ipad_.get(), b);
    std::memcpy(copy->opad_.get(), opad_.get(), b);
    return copy;
}

void hmac::clear() { hash_->clear(); }

}  // namespace hxcrypto
