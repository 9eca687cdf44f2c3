#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/hxcrypto/md5.h"
#include "tests/crypto/hash_test_util.h"

using namespace hash_test;

namespace {

struct Md5Vector {
    const char* text;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Md5Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, Rfc1321Suite) {
    hxcrypto::md5 h;
    for (const auto& v : kRfc1321) {
        EXPECT_EQ(hex(digest(h, std::string(v.text))), v.digest) << '"' << v.text << '"';
        unsigned char out[16];
        h.hash_string(std::string(v.text), out);
        EXPECT_EQ(hex(out, 16), v.digest) << "hash_string of \"" << v.text << '"';
    }
}

TEST(Md5, Sizes) {
    hxcrypto::md5 h;
    EXPECT_EQ(h.hashsize(), 128u);
    EXPECT_EQ(h.blocksize(), 512u);
}

// Lengths around the padding boundary: 55 bytes fit the length in the last
// block, 56..63 need a second block, and multiples of 64 a whole extra block.
TEST(Md5, MatchesOpenSslAroundBlockBoundariesAndOnRandomData) {
    hxcrypto::md5 h;
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 200; ++n)
        lengths.push_back(n);
    for (size_t n : {1000u, 4095u, 4096u, 4097u, 65536u + 57u, 1000003u})
        lengths.push_back(n);
    for (size_t n : lengths) {
        auto data = random_bytes(n, static_cast<uint32_t>(n));
        EXPECT_EQ(hex(digest(h, data)), hex(openssl_digest(EVP_md5(), data))) << "length " << n;
    }
}

// The image-signature reader feeds files in reads of 4096 bytes and a shorter
// last read; every way of cutting a message must give the digest of the whole.
TEST(Md5, PiecesOfAnySizeGiveTheWholeDigest) {
    const auto data = random_bytes(3 * 4096 + 1234, 7);
    hxcrypto::md5 h;
    const auto whole = digest(h, data);
    for (size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 4096u}) {
        h.init();
        for (size_t off = 0; off < data.size(); off += piece)
            h.update(data.data() + off, std::min(piece, data.size() - off));
        unsigned char out[16];
        h.final(out);
        EXPECT_EQ(hex(out, 16), hex(whole)) << "pieces of " << piece;
    }
}

TEST(Md5, CloneIsFreshAndObjectIsReusable) {
    hxcrypto::md5 h;
    h.init();
    h.update(reinterpret_cast<const unsigned char*>("half a message"), 14);
    std::unique_ptr<hxcrypto::crypto_hash> c(h.clone());
    EXPECT_EQ(c->hashsize(), 128u);
    EXPECT_EQ(hex(digest(*c, std::string("abc"))), "900150983cd24fb0d6963f7d28e17f72");
    // The source's own message is unaffected by the clone.
    h.update(reinterpret_cast<const unsigned char*>("abc"), 3);
    unsigned char out[16];
    h.final(out);
    EXPECT_EQ(hex(out, 16), hex(openssl_digest(EVP_md5(), bytes("half a messageabc"))));
    // After final, init starts a clean message on the same object.
    EXPECT_EQ(hex(digest(h, std::string(""))), "d41d8cd98f00b204e9800998ecf8427e");
}

// A fresh object starts with an empty buffer, so update before init writes at
// the start of the block buffer (not at a stray position); clear then init
// gives correct digests again.
TEST(Md5, UpdateBeforeInitAndClearAreSafe) {
    hxcrypto::md5 h;
    const auto data = random_bytes(200, 1);
    h.update(data.data(), data.size());
    h.clear();
    EXPECT_EQ(hex(digest(h, std::string("abc"))), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
