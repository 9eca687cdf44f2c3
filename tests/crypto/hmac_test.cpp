#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/hxcrypto/hmac.h"
#include "crypto/hxcrypto/md5.h"
#include "crypto/hxcrypto/sha256.h"
#include "tests/crypto/hash_test_util.h"

using namespace hash_test;

namespace {

std::vector<unsigned char> repeat(unsigned char byte, size_t n) { return std::vector<unsigned char>(n, byte); }

std::vector<unsigned char> mac(hxcrypto::hmac& h, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> out(h.hashsize() / 8);
    h.hash_string(data.data(), data.size(), out.data());
    return out;
}

struct Rfc4231Case {
    const char* name;
    std::vector<unsigned char> key;
    std::vector<unsigned char> data;
    const char* mac;  // HMAC-SHA256; case 5 publishes the first 128 bits only
};

// RFC 4231, section 4: keys shorter than, and (cases 6, 7) longer than the block.
const std::vector<Rfc4231Case>& rfc4231() {
    static const std::vector<Rfc4231Case> cases = {
        {"case 1", repeat(0x0b, 20), bytes("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"case 2", bytes("Jefe"), bytes("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"case 3", repeat(0xaa, 20), repeat(0xdd, 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"case 4", unhex("0102030405060708090a0b0c0d0e0f10111213141516171819"), repeat(0xcd, 50),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {"case 5", repeat(0x0c, 20), bytes("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
        {"case 6", repeat(0xaa, 131), bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"case 7", repeat(0xaa, 131),
         bytes("This is a test using a larger than block-size key and a larger than block-size data. The key "
               "needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    return cases;
}

TEST(Hmac, Rfc4231Sha256) {
    for (const auto& c : rfc4231()) {
        hxcrypto::hmac h(hxcrypto::sha256(), c.key.data(), c.key.size());
        const std::string got = hex(mac(h, c.data));
        EXPECT_EQ(got.substr(0, std::string(c.mac).size()), c.mac) << c.name;
        EXPECT_EQ(got, hex(openssl_hmac(EVP_sha256(), c.key, c.data))) << c.name;
    }
}

TEST(Hmac, SizesAreThoseOfTheInnerHash) {
    hxcrypto::hmac h256(hxcrypto::sha256(), std::string("k"));
    hxcrypto::hmac h224(hxcrypto::sha224(), std::string("k"));
    hxcrypto::hmac hmd5(hxcrypto::md5(), std::string("k"));
    EXPECT_EQ(h256.hashsize(), 256u);
    EXPECT_EQ(h224.hashsize(), 224u);
    EXPECT_EQ(hmd5.hashsize(), 128u);
    EXPECT_EQ(h256.blocksize(), 512u);
    EXPECT_EQ(hmd5.blocksize(), 512u);
}

// HMAC by its definition, with the key block given: H(K^opad || H(K^ipad || m)).
std::string by_definition(const std::vector<unsigned char>& key_block, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> inner, outer;
    for (unsigned char k : key_block)
        inner.push_back(k ^ 0x36);
    inner.insert(inner.end(), data.begin(), data.end());
    hxcrypto::sha256 h;
    const auto inner_digest = digest(h, inner);
    for (unsigned char k : key_block)
        outer.push_back(k ^ 0x5c);
    outer.insert(outer.end(), inner_digest.begin(), inner_digest.end());
    return hex(digest(h, outer));
}

// The key block around the block size: 0 bytes gives 64 zero bytes, 63 and 64
// bytes are used as they are (zero-filled), 65 bytes and the system's 93-digit
// key are first replaced by their SHA-256 digest, zero-filled to 64 bytes.
TEST(Hmac, KeyBlockAroundTheBlockSize) {
    const auto data = random_bytes(77, 4);
    hxcrypto::sha256 sha;
    for (size_t keylen : {0u, 1u, 32u, 63u, 64u, 65u, 93u, 200u}) {
        const auto key = random_bytes(keylen, static_cast<uint32_t>(keylen) + 1000);
        std::vector<unsigned char> block = key;
        if (keylen > 64)
            block = digest(sha, key);
        block.resize(64, 0);

        hxcrypto::hmac h(sha, key.data(), key.size());
        EXPECT_EQ(hex(mac(h, data)), by_definition(block, data)) << "key of " << keylen << " bytes";
        EXPECT_EQ(hex(mac(h, data)), hex(openssl_hmac(EVP_sha256(), key, data))) << "key of " << keylen << " bytes";
    }
}

// Over any hash of the interface, on random keys and messages.
TEST(Hmac, MatchesOpenSslOverEveryHash) {
    struct Inner {
        const char* name;
        std::unique_ptr<hxcrypto::crypto_hash> hash;
        const EVP_MD* md;
    };
    Inner inners[] = {
        {"SHA-256", std::unique_ptr<hxcrypto::crypto_hash>(new hxcrypto::sha256), EVP_sha256()},
        {"SHA-224", std::unique_ptr<hxcrypto::crypto_hash>(new hxcrypto::sha224), EVP_sha224()},
        {"MD5", std::unique_ptr<hxcrypto::crypto_hash>(new hxcrypto::md5), EVP_md5()},
    };
    for (auto& in : inners) {
        for (size_t n : {0u, 1u, 55u, 64u, 119u, 1000u, 70000u}) {
            const auto key = random_bytes(n % 97, static_cast<uint32_t>(n) + 7);
            const auto data = random_bytes(n, static_cast<uint32_t>(n) + 8);
            hxcrypto::hmac h(*in.hash, key.data(), key.size());
            EXPECT_EQ(hex(mac(h, data)), hex(openssl_hmac(in.md, key, data))) << in.name << ", " << n << " bytes";
        }
    }
}

// The caller's hash object is only cloned: it may go at once, and its state
// does not leak into the MAC.
TEST(Hmac, CallersHashIsNotUsedAfterConstruction) {
    auto inner = std::make_unique<hxcrypto::sha256>();
    inner->init();
    inner->update(reinterpret_cast<const unsigned char*>("junk"), 4);
    hxcrypto::hmac h(*inner, std::string("Jefe"));
    inner.reset();
    EXPECT_EQ(hex(mac(h, bytes("what do ya want for nothing?"))),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(Hmac, HashStringEqualsStepsAndRepeats) {
    hxcrypto::hmac h(hxcrypto::sha256(), std::string("Jefe"));
    const auto data = bytes("what do ya want for nothing?");
    const std::string first = hex(mac(h, data));
    EXPECT_EQ(hex(mac(h, data)), first);

    unsigned char out[32];
    h.init();
    h.update(data.data(), 10);
    h.update(data.data() + 10, data.size() - 10);
    h.final(out);
    EXPECT_EQ(hex(out, 32), first);
}

// A clone keeps the key and starts fresh, whatever state its source is in;
// clear wipes the message state only, so the key still works after init.
TEST(Hmac, CloneKeepsTheKeyAndClearKeepsTheKey) {
    const auto data = bytes("what do ya want for nothing?");
    const char* expected = "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843";
    hxcrypto::hmac h(hxcrypto::sha256(), std::string("Jefe"));

    std::unique_ptr<hxcrypto::crypto_hash> fresh(h.clone());
    h.init();
    h.update(data.data(), 5);
    std::unique_ptr<hxcrypto::crypto_hash> mid(h.clone());
    for (auto* c : {fresh.get(), mid.get()}) {
        unsigned char out[32];
        c->hash_string(data.data(), data.size(), out);
        EXPECT_EQ(hex(out, 32), expected);
    }

    h.clear();
    EXPECT_EQ(hex(mac(h, data)), expected);
}

}  // namespace
