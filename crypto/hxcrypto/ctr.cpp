#include "crypto/hxcrypto/ctr.h"

#include <algorithm>
#include <cstring>

#include "crypto/hxcrypto/cpuinfo.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hxcrypto {

namespace {

void wipe(unsigned char* p, size_t n) {
    volatile unsigned char* v = p;
    for (size_t i = 0; i < n; ++i) v[i] = 0;
}

// out = in XOR key over n bytes.
void xor_bytes(const unsigned char* in, const unsigned char* key, unsigned char* out, size_t n) {
    for (size_t k = 0; k < n; ++k) out[k] = static_cast<unsigned char>(in[k] ^ key[k]);
}

#if defined(__SSE2__)
inline void xor16(const unsigned char* in, const unsigned char* key, unsigned char* out) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(a, b));
}

// A whole block with 16-byte vector operations; the usual sizes unrolled.
void xor_block_sse2(const unsigned char* in, const unsigned char* key, unsigned char* out, size_t n) {
    switch (n) {
    case 16:
        xor16(in, key, out);
        return;
    case 32:
        xor16(in, key, out);
        xor16(in + 16, key + 16, out + 16);
        return;
    case 64:
        xor16(in, key, out);
        xor16(in + 16, key + 16, out + 16);
        xor16(in + 32, key + 32, out + 32);
        xor16(in + 48, key + 48, out + 48);
        return;
    default: {
        size_t k = 0;
        for (; k + 16 <= n; k += 16) xor16(in + k, key + k, out + k);
        xor_bytes(in + k, key + k, out + k, n - k);
    }
    }
}
#endif

void xor_block(const unsigned char* in, const unsigned char* key, unsigned char* out, size_t n) {
#if defined(__SSE2__)
    if (cpu_info::sse2()) {
        xor_block_sse2(in, key, out, n);
        return;
    }
#endif
    xor_bytes(in, key, out, n);
}

// Adds 1 to the big-endian integer of n bytes; all 0xff bytes wrap to zero.
void increment(unsigned char* counter, size_t n) {
    for (size_t k = n; k > 0; --k) {
        if (++counter[k - 1] != 0) break;
    }
}

// Keystream made ahead for runs of whole blocks: the counter blocks of a run
// go to the cipher in one call, which may work on several at once.
constexpr size_t kRunBytes = 256;

}  // namespace

ctr::ctr(const block_cipher& cipher)
    : pos(0), nb_(cipher.blocksize() / 8), cipher_(cipher.clone()) {
    block_.reset(new unsigned char[nb_]());
    iv_.reset(new unsigned char[nb_]());
}

ctr::~ctr() { clear(); }

size_t ctr::keysize() const { return cipher_->keysize(); }

size_t ctr::ivsize() const { return cipher_->blocksize(); }

stream_cipher* ctr::clone() const { return new ctr(*cipher_); }

void ctr::clear() {
    wipe(block_.get(), nb_);
    wipe(iv_.get(), nb_);
    cipher_->clear();
    keyed_ = false;
}

bool ctr::init(const unsigned char* key, size_t keylen, const unsigned char* iv, size_t ivlen) {
    clear();
    pos = 0;
    if (key == nullptr || keylen < cipher_->keysize() / 8) return false;
    if (ivlen > nb_ || (iv == nullptr && ivlen > 0)) return false;
    if (nb_ == 0 || !cipher_->init(key, block_cipher::encryption)) {
        cipher_->clear();
        return false;
    }
    if (ivlen > 0) std::memcpy(iv_.get(), iv, ivlen);
    keyed_ = true;
    return true;
}

bool ctr::encrypt(const unsigned char* in, size_t len, unsigned char* out) {
    if (!keyed_) return false;
    if (len == 0) return true;
    if (in == nullptr || out == nullptr) return false;
    size_t i = 0;
    // Keystream left over from the previous call.
    while (pos > 0 && pos < nb_ && i < len) {
        out[i] = static_cast<unsigned char>(in[i] ^ block_[pos]);
        ++pos;
        ++i;
    }
    if (nb_ > 0 && 2 * nb_ <= kRunBytes && len - i >= 2 * nb_) {
        unsigned char counters[kRunBytes];
        unsigned char stream[kRunBytes];
        const size_t most = kRunBytes / nb_;
        while (len - i >= 2 * nb_) {
            const size_t m = std::min(most, (len - i) / nb_);
            for (size_t b = 0; b < m; ++b) {
                std::memcpy(counters + b * nb_, iv_.get(), nb_);
                increment(iv_.get(), nb_);
            }
            cipher_->encrypt_blocks(counters, stream, m);
            for (size_t b = 0; b < m; ++b) xor_block(in + i + b * nb_, stream + b * nb_, out + i + b * nb_, nb_);
            i += m * nb_;
        }
        pos = 0;
        wipe(counters, sizeof counters);
        wipe(stream, sizeof stream);
    }
    while (i < len) {
        cipher_->encrypt_block(iv_.get(), block_.get());
        increment(iv_.get(), nb_);
        if (len - i >= nb_) {
            xor_block(in + i, block_.get(), out + i, nb_);
            i += nb_;
            pos = 0;
        } else {
            const size_t r = len - i;
            xor_bytes(in + i, block_.get(), out + i, r);
            pos = r;
            i = len;
        }
    }
    return true;
}

bool ctr::decrypt(const unsigned char* in, size_t len, unsigned char* out) { return encrypt(in, len, out); }

}  // namespace hxcrypto
