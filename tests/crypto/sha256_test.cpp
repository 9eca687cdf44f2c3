#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/hxcrypto/sha256.h"
#include "tests/crypto/hash_test_util.h"

using namespace hash_test;
using hxcrypto::sha224;
using hxcrypto::sha256;
using hxcrypto::sha256_kernel;

namespace {

struct ShaVector {
    const char* name;
    std::string message;
    const char* sha256;
    const char* sha224;
};

// FIPS 180-4 examples (one block, two blocks, the 896-bit message), the empty
// message and one million 'a'.
const std::vector<ShaVector>& vectors() {
    static const std::vector<ShaVector> v = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
         "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
         "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
         "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
         "tnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
         "c97ca9a559850ce97a04a96def6d99a9e0e0e2ab14e6b8df265fc0b3"},
        {"million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
         "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    };
    return v;
}

// Every test below runs once per block function this processor can run.
class Sha256Kernels : public ::testing::TestWithParam<sha256_kernel> {};

TEST_P(Sha256Kernels, PublishedVectors) {
    sha256 h256(GetParam());
    sha224 h224(GetParam());
    for (const auto& v : vectors()) {
        EXPECT_EQ(hex(digest(h256, v.message)), v.sha256) << v.name;
        EXPECT_EQ(hex(digest(h224, v.message)), v.sha224) << v.name;
    }
}

// Lengths 0..300 cover every padding case (55 fits, 56..63 spill into a second
// block) and every split between buffered and whole blocks; larger ones give
// the vector kernels long runs, odd and even block counts.
TEST_P(Sha256Kernels, MatchesOpenSslOnRandomData) {
    sha256 h256(GetParam());
    sha224 h224(GetParam());
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (size_t n : {1023u, 1024u, 1088u, 16384u, 16384u + 64u, 100003u})
        lengths.push_back(n);
    for (size_t n : lengths) {
        const auto data = random_bytes(n, static_cast<uint32_t>(n) + 11);
        EXPECT_EQ(hex(digest(h256, data)), hex(openssl_digest(EVP_sha256(), data))) << "length " << n;
        EXPECT_EQ(hex(digest(h224, data)), hex(openssl_digest(EVP_sha224(), data))) << "length " << n;
    }
}

// A message fed in pieces gives the digest of the whole, whatever the cuts;
// pieces start at every alignment of the caller's buffer.
TEST_P(Sha256Kernels, PiecesOfAnySizeGiveTheWholeDigest) {
    const auto data = random_bytes(1500, 5);
    sha256 h(GetParam());
    const std::string whole = hex(digest(h, data));

    const std::vector<std::vector<size_t>> cut_patterns = {
        {63, 1, 64, 0}, {1}, {3}, {55}, {56}, {63}, {64}, {65}, {127}, {128}, {129}, {200, 0, 7}, {700},
    };
    for (const auto& pattern : cut_patterns) {
        h.init();
        size_t off = 0;
        for (size_t i = 0; off < data.size(); ++i) {
            const size_t n = std::min(pattern[i % pattern.size()], data.size() - off);
            h.update(data.data() + off, n);
            off += n;
        }
        unsigned char out[32];
        h.final(out);
        EXPECT_EQ(hex(out, 32), whole) << "cut pattern starting " << pattern[0];
    }
}

std::string kernel_label(const ::testing::TestParamInfo<sha256_kernel>& info) {
    return hxcrypto::sha256_kernel_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Runnable, Sha256Kernels, ::testing::ValuesIn(runnable_kernels()), kernel_label);

TEST(Sha256, DefaultObjectUsesTheProcessorsChoice) {
    sha256 h;
    EXPECT_EQ(h.kernel(), hxcrypto::choose_sha256_kernel(hxcrypto::cpu_info::features()));
    EXPECT_EQ(runnable_kernels().front(), h.kernel());
}

TEST(Sha256, Sizes) {
    sha256 h256;
    sha224 h224;
    EXPECT_EQ(h256.hashsize(), 256u);
    EXPECT_EQ(h256.blocksize(), 512u);
    EXPECT_EQ(h224.hashsize(), 224u);
    EXPECT_EQ(h224.blocksize(), 512u);
}

TEST(Sha256, Sha224WritesExactly28Bytes) {
    sha224 h;
    unsigned char out[32];
    std::memset(out, 0xee, sizeof out);
    h.hash_string(std::string("abc"), out);
    EXPECT_EQ(hex(out, 28), "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7");
    EXPECT_EQ(hex(out + 28, 4), "eeeeeeee");
}

TEST(Sha256, HashStringOverloadsAgree) {
    sha256 h;
    const std::string text = "The quick brown fox jumps over the lazy dog";
    unsigned char a[32], b[32], c[32];
    h.hash_string(text, a);
    h.hash_string(text.c_str(), text.size(), b);
    h.hash_string(reinterpret_cast<const unsigned char*>(text.data()), text.size(), c);
    EXPECT_EQ(hex(a, 32), "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592");
    EXPECT_EQ(hex(b, 32), hex(a, 32));
    EXPECT_EQ(hex(c, 32), hex(a, 32));
}

// A clone taken mid-message is a fresh object of the same kind: after its own
// init it gives the digest of a new object, and the source goes on undisturbed.
TEST(Sha256, CloneKnowsNothingOfTheMessage) {
    sha224 h;
    h.init();
    h.update(reinterpret_cast<const unsigned char*>("prefix"), 6);
    std::unique_ptr<hxcrypto::crypto_hash> c(h.clone());
    EXPECT_EQ(c->hashsize(), 224u);
    EXPECT_EQ(hex(digest(*c, std::string("abc"))), "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7");
    h.update(reinterpret_cast<const unsigned char*>("abc"), 3);
    unsigned char out[28];
    h.final(out);
    EXPECT_EQ(hex(out, 28), hex(openssl_digest(EVP_sha224(), bytes("prefixabc"))));
}

// A fresh object's buffer position is zero, so update before init writes at
// the buffer's start and gives the same result on every object; init after
// clear gives correct digests again.
TEST(Sha256, UpdateBeforeInitIsDeterministicAndClearRecovers) {
    const auto data = random_bytes(100, 3);
    unsigned char first[32], second[32];
    for (unsigned char* out : {first, second}) {
        sha256 h;
        h.update(data.data(), 30);
        h.update(data.data(), data.size());
        h.final(out);
    }
    EXPECT_EQ(hex(first, 32), hex(second, 32));

    sha256 h;
    h.update(data.data(), data.size());
    h.clear();
    EXPECT_EQ(hex(digest(h, std::string("abc"))), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// The digest-size checks, reached through a class that offers them.
class SizedHash : public sha256 {
public:
    void check(size_t hs, size_t max) const { validate_hash_size(hs, max); }
    void check(size_t hs, std::initializer_list<size_t> set) const { validate_hash_size(hs, set); }
};

TEST(CryptoHash, ValidateHashSizeAgainstBound) {
    struct Case {
        size_t hs, max;
        const char* error;  // nullptr: accepted
    };
    const Case cases[] = {
        {0, 512, "hash size can't be zero"},
        {12, 512, "hxcrypto does not support non-byte hash sizes"},
        {520, 512, "invalid hash size"},
        {516, 512, "hxcrypto does not support non-byte hash sizes"},  // byte rule before the bound
        {512, 512, nullptr},
        {8, 512, nullptr},
    };
    SizedHash h;
    for (const auto& c : cases) {
        if (!c.error) {
            EXPECT_NO_THROW(h.check(c.hs, c.max)) << c.hs;
            continue;
        }
        try {
            h.check(c.hs, c.max);
            ADD_FAILURE() << c.hs << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.error) << c.hs;
        }
    }
}

TEST(CryptoHash, ValidateHashSizeAgainstSet) {
    struct Case {
        size_t hs;
        std::initializer_list<size_t> set;
        const char* error;
    };
    const Case cases[] = {
        {0, {224, 256}, "hash size can't be zero"},
        {160, {224, 256}, "invalid hash size"},
        {12, {12, 224}, nullptr},  // no byte rule for a listed size
        {256, {224, 256}, nullptr},
    };
    SizedHash h;
    for (const auto& c : cases) {
        if (!c.error) {
            EXPECT_NO_THROW(h.check(c.hs, c.set)) << c.hs;
            continue;
        }
        try {
            h.check(c.hs, c.set);
            ADD_FAILURE() << c.hs << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.error) << c.hs;
        }
    }
}

}  // namespace
