#pragma once
// The message buffering MD5 and SHA-256 share: 64-byte blocks, one waiting
// partial block, and the last block padded with the message length in bits.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hxcrypto {

// Absorbs len bytes: the waiting block m[0..pos) is completed and compressed
// first, whole blocks go to compress(blocks, count) in one call straight from
// data, and the rest waits in m. total counts the bits absorbed.
template <typename Compress>
inline void absorb_blocks(unsigned char (&m)[64], size_t& pos, uint64_t& total, const unsigned char* data, size_t len,
                          Compress&& compress) {
    if (pos > 0 && pos + len >= 64) {
        const size_t take = 64 - pos;
        std::memcpy(m + pos, data, take);
        compress(m, 1);
        total += static_cast<uint64_t>(take) * 8;
        data += take;
        len -= take;
        pos = 0;
    }
    if (len >= 64) {
        const size_t blocks = len / 64;
        compress(data, static_cast<uint64_t>(blocks));
        total += static_cast<uint64_t>(blocks) * 64 * 8;
        data += blocks * 64;
        len -= blocks * 64;
    }
    if (len > 0) {
        std::memcpy(m + pos, data, len);
        pos += len;
        total += static_cast<uint64_t>(len) * 8;
    }
}

// Ends the message: 0x80, zeros, and total as eight bytes (most significant
// first when BigEndianLength, least significant first otherwise), compressing
// the one or two last blocks.
template <bool BigEndianLength, typename Compress>
inline void pad_last_block(unsigned char (&m)[64], size_t& pos, uint64_t total, Compress&& compress) {
    m[pos++] = 0x80;
    if (pos > 56) {
        std::memset(m + pos, 0, 64 - pos);
        compress(m, 1);
        pos = 0;
    }
    std::memset(m + pos, 0, 56 - pos);
    for (int i = 0; i < 8; ++i)
        m[56 + i] = static_cast<unsigned char>(total >> (BigEndianLength ? 56 - 8 * i : 8 * i));
    compress(m, 1);
}

}  // namespace hxcrypto
