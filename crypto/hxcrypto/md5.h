#pragma once
// MD5 message digest (RFC 1321) behind the hash-function interface.

#include <cstddef>
#include <cstdint>

#include "crypto/hxcrypto/aligned_pod_array.h"
#include "crypto/hxcrypto/crypto_hash.h"

namespace hxcrypto {

class md5 : public crypto_hash {
public:
    // Ready for init; update before init still writes inside the block buffer.
    md5();
    ~md5() override;

    // Loads the initial words of RFC 1321 and empties the message.
    void init() override;
    // Absorbs len bytes; whole blocks are compressed in the caller's buffer.
    void update(const unsigned char* data, size_t len) override;
    // Writes the 16-byte digest, the first chaining word first, each little-endian.
    void final(unsigned char* hash) override;
    // 128 bits.
    size_t hashsize() const override { return 128; }
    // 512 bits.
    size_t blocksize() const override { return 512; }
    // A fresh md5 that needs init.
    crypto_hash* clone() const override { return new md5(); }
    // Zeroes the chaining words and the waiting block; the object needs init after.
    void clear() override;

protected:
    // Compresses count consecutive 64-byte blocks into H.
    void transform(const unsigned char* blocks, uint64_t count);

private:
    aligned_pod_array<uint32_t, 4, 32> H;
    unsigned char m[64];
    size_t pos;
    uint64_t total;
};

}  // namespace hxcrypto
