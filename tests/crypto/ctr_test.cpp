// Counter mode over Kuznyechik: the CTR example of GOST R 34.13-2015, the
// counter block of the system's own layout, wrapping counters, texts fed in
// pieces, refused keys and initial values, and OpenSSL's GOST provider as an
// oracle on random inputs.

#include "crypto/hxcrypto/ctr.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/kuznyechik.h"
#include "tests/crypto/hex_text.h"

namespace {

using bytes = std::vector<unsigned char>;
using hxcrypto::block_cipher;
using hxcrypto::ctr;
using hxcrypto::kuznyechik;
using hxcrypto::stream_cipher;

using crypto_test::hex;
using crypto_test::unhex;

bytes pattern(size_t n, unsigned seed) {
    bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 31 + seed);
    return b;
}

// The example of GOST R 34.13-2015 for Kuznyechik in counter mode: its
// initial value is half a block, the other half of the counter block zero.
const std::string kKey = "8899aabbccddeeff0011223344556677fedcba98765432100123456789abcdef";
const std::string kIv = "1234567890abcef0";
const std::string kPlain =
    "1122334455667700ffeeddccbbaa9988" "00112233445566778899aabbcceeff0a"
    "112233445566778899aabbcceeff0a00" "2233445566778899aabbcceeff0a0011";
const std::string kCipher =
    "f195d8bec10ed1dbd57b5fa240bda1b8" "85eee733f6a13e5df33ce4b33c45dee4"
    "a5eae88be6356ed3d5e877f13564a3a5" "cb91fab1f20cbab6d1c6d15820bdba73";

class CtrMode : public ::testing::Test {
protected:
    // A counter mode keyed with the example's key and the given counter start.
    std::unique_ptr<ctr> keyed(const bytes& iv) {
        std::unique_ptr<ctr> c(new ctr(kuznyechik()));
        EXPECT_TRUE(c->init(key.data(), key.size(), iv.data(), iv.size()));
        return c;
    }
    // The counter blocks behind the first n keystream blocks, recovered by
    // decrypting the keystream (the encryption of zeros) block by block.
    std::vector<std::string> counter_blocks(const bytes& iv, size_t n) {
        bytes stream(16 * n);
        EXPECT_TRUE(keyed(iv)->encrypt(stream.data(), stream.size(), stream.data()));
        kuznyechik dec;
        EXPECT_TRUE(dec.init(key.data(), block_cipher::decryption));
        std::vector<std::string> blocks;
        for (size_t b = 0; b < n; ++b) {
            unsigned char counter[16];
            dec.decrypt_block(stream.data() + 16 * b, counter);
            blocks.push_back(hex(counter, 16));
        }
        return blocks;
    }
    const bytes key = unhex(kKey);
};

TEST_F(CtrMode, StandardExampleBothDirections) {
    const bytes plain = unhex(kPlain);
    bytes out(plain.size());
    ASSERT_TRUE(keyed(unhex(kIv))->encrypt(plain.data(), plain.size(), out.data()));
    EXPECT_EQ(hex(out), kCipher);
    bytes back(out.size());
    ASSERT_TRUE(keyed(unhex(kIv))->decrypt(out.data(), out.size(), back.data()));
    EXPECT_EQ(hex(back), kPlain);
}

TEST_F(CtrMode, StandardExampleCounterIsTheHalfBlockValueThenZeros) {
    EXPECT_EQ(counter_blocks(unhex(kIv), 4),
              (std::vector<std::string>{"1234567890abcef00000000000000000", "1234567890abcef00000000000000001",
                                        "1234567890abcef00000000000000002", "1234567890abcef00000000000000003"}));
}

// The system's own layout: the first two bytes of the built-in text, then a
// 14-byte block count from zero.
TEST_F(CtrMode, BuiltInLayoutIsTwoConstantBytesThenABlockCount) {
    const bytes iv(kelvomar::kCounterConstant, kelvomar::kCounterConstant + 2);
    const std::string head = hex(iv);
    EXPECT_EQ(counter_blocks(iv, 3), (std::vector<std::string>{head + std::string(27, '0') + "0",
                                                               head + std::string(27, '0') + "1",
                                                               head + std::string(27, '0') + "2"}));
}

struct wrap_case {
    const char* start;
    const char* next;
};

void PrintTo(const wrap_case& c, std::ostream* os) { *os << c.start; }

class CtrWrap : public CtrMode, public ::testing::WithParamInterface<wrap_case> {};

TEST_P(CtrWrap, CounterCarriesAcrossTheWholeBlock) {
    const std::vector<std::string> blocks = counter_blocks(unhex(GetParam().start), 2);
    EXPECT_EQ(blocks[0], GetParam().start);
    EXPECT_EQ(blocks[1], GetParam().next);
}

INSTANTIATE_TEST_SUITE_P(Counters, CtrWrap,
                         ::testing::Values(wrap_case{"000000000000000000000000000000ff", "00000000000000000000000000000100"},
                                           wrap_case{"75370000000000000000000000ffffff", "75370000000000000000000001000000"},
                                           wrap_case{"1234567890abcef0ffffffffffffffff", "1234567890abcef10000000000000000"},
                                           wrap_case{"00ffffffffffffffffffffffffffffff", "01000000000000000000000000000000"},
                                           wrap_case{"ffffffffffffffffffffffffffffffff", "00000000000000000000000000000000"}));

// The same text in pieces after one init gives the output of one call.
TEST_F(CtrMode, TextInPiecesContinuesOneKeystream) {
    const std::vector<std::vector<size_t>> splits = {
        {5, 27}, {3, 3, 3}, {16, 16}, {1, 15, 16, 17}, {0, 7, 0, 9, 0}, {15, 2, 31, 1}, {64}, {33, 0, 31},
    };
    for (const auto& split : splits) {
        size_t total = 0;
        for (size_t n : split) total += n;
        const bytes text = pattern(total, 9);
        bytes whole(total);
        ASSERT_TRUE(keyed(unhex(kIv))->encrypt(text.data(), total, whole.data()));
        std::unique_ptr<ctr> c = keyed(unhex(kIv));
        bytes pieces(total);
        size_t at = 0;
        for (size_t n : split) {
            ASSERT_TRUE(c->encrypt(text.data() + at, n, pieces.data() + at));
            at += n;
        }
        EXPECT_EQ(hex(pieces), hex(whole)) << "split starting with " << split[0] << " of " << total << " bytes";
    }
}

// Texts of every length up to five blocks come back whole, the tail of a
// partial last block included, also when encrypted in place.
TEST_F(CtrMode, EveryLengthRoundTripsInPlace) {
    for (size_t len = 0; len <= 80; ++len) {
        const bytes text = pattern(len, static_cast<unsigned>(len));
        bytes buf = text;
        ASSERT_TRUE(keyed(unhex(kIv))->encrypt(buf.data(), len, buf.data()));
        if (len >= 4) {
            EXPECT_NE(buf, text) << len;
        }
        ASSERT_TRUE(keyed(unhex(kIv))->decrypt(buf.data(), len, buf.data()));
        EXPECT_EQ(buf, text) << len;
    }
}

TEST_F(CtrMode, PartialLastBlockUsesTheStartOfTheNextKeystreamBlock) {
    bytes stream(48);
    ASSERT_TRUE(keyed(unhex(kIv))->encrypt(stream.data(), stream.size(), stream.data()));
    const bytes text = pattern(37, 4);
    bytes out(37);
    ASSERT_TRUE(keyed(unhex(kIv))->encrypt(text.data(), text.size(), out.data()));
    for (size_t i = 32; i < 37; ++i) EXPECT_EQ(out[i], text[i] ^ stream[i]) << i;
}

struct refusal_case {
    const char* name;
    size_t keylen;
    size_t ivlen;
    bool null_key;
    bool null_iv;
};

void PrintTo(const refusal_case& c, std::ostream* os) { *os << c.name; }

class CtrRefusal : public CtrMode, public ::testing::WithParamInterface<refusal_case> {};

// A refused init leaves no key behind, not even the one of an earlier init,
// and encrypt then writes nothing.
TEST_P(CtrRefusal, InitFailsAndNothingIsEncrypted) {
    const refusal_case& c = GetParam();
    bytes long_key(64, 0x5a);
    bytes long_iv(32, 0xa5);
    std::unique_ptr<ctr> cipher = keyed(unhex(kIv));
    EXPECT_FALSE(cipher->init(c.null_key ? nullptr : long_key.data(), c.keylen, c.null_iv ? nullptr : long_iv.data(), c.ivlen));
    const bytes text = pattern(20, 1);
    bytes out(20, 0xee);
    EXPECT_FALSE(cipher->encrypt(text.data(), text.size(), out.data()));
    EXPECT_FALSE(cipher->decrypt(text.data(), text.size(), out.data()));
    EXPECT_EQ(out, bytes(20, 0xee));
}

INSTANTIATE_TEST_SUITE_P(Inputs, CtrRefusal,
                         ::testing::Values(refusal_case{"KeyOneByteShort", 31, 2, false, false},
                                           refusal_case{"EmptyKey", 0, 2, false, false},
                                           refusal_case{"IvLongerThanABlock", 32, 17, false, false},
                                           refusal_case{"HugeIv", 32, static_cast<size_t>(-1), false, false},
                                           refusal_case{"NullKey", 32, 2, true, false},
                                           refusal_case{"NullIvWithLength", 32, 2, false, true}),
                         [](const ::testing::TestParamInfo<refusal_case>& info) { return std::string(info.param.name); });

TEST_F(CtrMode, LongerKeyUsesItsFirstKeyBytesAndFullBlockIvIsAccepted) {
    bytes long_key = key;
    long_key.resize(40, 0x77);
    const bytes iv = unhex("1234567890abcef00000000000000000");
    std::unique_ptr<ctr> c(new ctr(kuznyechik()));
    ASSERT_TRUE(c->init(long_key.data(), long_key.size(), iv.data(), iv.size()));
    const bytes plain = unhex(kPlain);
    bytes out(plain.size());
    ASSERT_TRUE(c->encrypt(plain.data(), plain.size(), out.data()));
    EXPECT_EQ(hex(out), kCipher);
}

TEST_F(CtrMode, NoIvCountsFromZero) {
    std::unique_ptr<ctr> c(new ctr(kuznyechik()));
    ASSERT_TRUE(c->init(key.data(), key.size(), nullptr, 0));
    bytes stream(32);
    ASSERT_TRUE(c->encrypt(stream.data(), stream.size(), stream.data()));
    bytes zero_start(32);
    ASSERT_TRUE(keyed(bytes(16, 0))->encrypt(zero_start.data(), zero_start.size(), zero_start.data()));
    EXPECT_EQ(hex(stream), hex(zero_start));
}

TEST_F(CtrMode, ZeroLengthCallChangesNothing) {
    std::unique_ptr<ctr> c = keyed(unhex(kIv));
    const bytes plain = unhex(kPlain);
    bytes out(plain.size());
    ASSERT_TRUE(c->encrypt(plain.data(), 7, out.data()));
    ASSERT_TRUE(c->encrypt(nullptr, 0, nullptr));
    ASSERT_TRUE(c->encrypt(plain.data() + 7, plain.size() - 7, out.data() + 7));
    EXPECT_EQ(hex(out), kCipher);
}

TEST_F(CtrMode, CloneAndClearLeaveNoKey) {
    std::unique_ptr<ctr> c = keyed(unhex(kIv));
    std::unique_ptr<stream_cipher> copy(c->clone());
    ASSERT_NE(dynamic_cast<ctr*>(copy.get()), nullptr);
    EXPECT_EQ(copy->keysize(), 256u);
    EXPECT_EQ(copy->ivsize(), 128u);
    const bytes plain = unhex(kPlain);
    bytes out(plain.size());
    EXPECT_FALSE(copy->encrypt(plain.data(), plain.size(), out.data()));
    const bytes iv = unhex(kIv);
    ASSERT_TRUE(copy->init(key.data(), key.size(), iv.data(), iv.size()));
    ASSERT_TRUE(copy->encrypt(plain.data(), plain.size(), out.data()));
    EXPECT_EQ(hex(out), kCipher);

    c->clear();
    EXPECT_FALSE(c->encrypt(plain.data(), plain.size(), out.data()));
}

TEST_F(CtrMode, NewInitRestartsTheKeystream) {
    std::unique_ptr<ctr> c = keyed(unhex(kIv));
    const bytes plain = unhex(kPlain);
    bytes out(plain.size());
    ASSERT_TRUE(c->encrypt(plain.data(), 21, out.data()));
    const bytes iv = unhex(kIv);
    ASSERT_TRUE(c->init(key.data(), key.size(), iv.data(), iv.size()));
    ASSERT_TRUE(c->encrypt(plain.data(), plain.size(), out.data()));
    EXPECT_EQ(hex(out), kCipher);
}

TEST(CtrOwnership, CallersCipherNeedsNoKeyAndIsNotUsed) {
    auto source = std::make_unique<kuznyechik>();
    ctr c(*source);
    source.reset();
    const bytes key = unhex(kKey);
    const bytes iv = unhex(kIv);
    ASSERT_TRUE(c.init(key.data(), key.size(), iv.data(), iv.size()));
    const bytes plain = unhex(kPlain);
    bytes out(plain.size());
    ASSERT_TRUE(c.encrypt(plain.data(), plain.size(), out.data()));
    EXPECT_EQ(hex(out), kCipher);
}

// A transparent block cipher of any block size: E(x) = x XOR the key, so the
// keystream shows the counter blocks directly.
class xor_cipher : public block_cipher {
public:
    explicit xor_cipher(size_t bytes) : key_(bytes) {}
    size_t blocksize() const override { return 8 * key_.size(); }
    size_t keysize() const override { return 8 * key_.size(); }
    block_cipher* clone() const override { return new xor_cipher(key_.size()); }
    void clear() override { std::fill(key_.begin(), key_.end(), 0); }
    bool init(const unsigned char* key, direction) override {
        key_.assign(key, key + key_.size());
        return true;
    }
    void encrypt_block(const unsigned char* in, unsigned char* out) override {
        for (size_t k = 0; k < key_.size(); ++k) out[k] = in[k] ^ key_[k];
    }
    void decrypt_block(const unsigned char* in, unsigned char* out) override { encrypt_block(in, out); }

private:
    bytes key_;
};

class CtrOverAnyBlockSize : public ::testing::TestWithParam<size_t> {};

// The counter spans the whole block, and runs of whole blocks, single blocks
// and a partial tail give one continuous keystream for every block size.
TEST_P(CtrOverAnyBlockSize, CounterCoversTheWholeBlockAndPiecesAgree) {
    const size_t nb = GetParam();
    ctr c{xor_cipher(nb)};
    EXPECT_EQ(c.keysize(), 8 * nb);
    EXPECT_EQ(c.ivsize(), 8 * nb);
    const bytes key(nb, 0);
    bytes iv(nb, 0xff);
    iv[0] = 0x41;
    iv[nb - 1] = 0xfe;
    ASSERT_TRUE(c.init(key.data(), key.size(), iv.data(), iv.size()));
    bytes stream(5 * nb + 3);
    ASSERT_TRUE(c.encrypt(stream.data(), stream.size(), stream.data()));
    std::vector<std::string> counters;
    for (size_t b = 0; b < 5; ++b) counters.push_back(hex(stream.data() + b * nb, nb));
    const std::string ones(2 * (nb - 2), 'f');
    const std::string zeros(2 * (nb - 2), '0');
    EXPECT_EQ(counters, (std::vector<std::string>{"41" + ones + "fe", "41" + ones + "ff", "42" + zeros + "00",
                                                  "42" + zeros + "01", "42" + zeros + "02"}));
    EXPECT_EQ(hex(stream.data() + 5 * nb, 3), "420000");

    ASSERT_TRUE(c.init(key.data(), key.size(), iv.data(), iv.size()));
    bytes pieces(stream.size());
    const size_t first = nb / 2 + 1;
    ASSERT_TRUE(c.encrypt(pieces.data(), first, pieces.data()));
    ASSERT_TRUE(c.encrypt(pieces.data() + first, pieces.size() - first, pieces.data() + first));
    EXPECT_EQ(hex(pieces), hex(stream));
}

INSTANTIATE_TEST_SUITE_P(Bytes, CtrOverAnyBlockSize, ::testing::Values(8, 16, 24, 32, 64, 200));

// kuznyechik-ctr of the GOST provider: an 8-byte initial value, the rest of
// the counter block zero, the whole block counting.
TEST(CtrOracle, RandomTextsInRandomPiecesMatchOpenSslGost) {
    OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
    OSSL_PROVIDER* provider = ctx != nullptr ? OSSL_PROVIDER_load(ctx, "gostprov") : nullptr;
    EVP_CIPHER* gost = provider != nullptr ? EVP_CIPHER_fetch(ctx, "kuznyechik-ctr", nullptr) : nullptr;
    if (gost == nullptr) {
        if (provider != nullptr) OSSL_PROVIDER_unload(provider);
        OSSL_LIB_CTX_free(ctx);
        GTEST_SKIP() << "OpenSSL GOST provider (libengine-gost-openssl) not installed";
    }
    std::mt19937 rng(341315);
    for (int trial = 0; trial < 40; ++trial) {
        bytes key(32);
        bytes iv(8);
        bytes text(rng() % 3000);
        for (auto& b : key) b = static_cast<unsigned char>(rng());
        for (auto& b : iv) b = static_cast<unsigned char>(rng());
        for (auto& b : text) b = static_cast<unsigned char>(rng());

        EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
        bytes expected(text.size() + 16);
        int n = 0;
        ASSERT_EQ(EVP_EncryptInit_ex(c, gost, nullptr, key.data(), iv.data()), 1);
        ASSERT_EQ(EVP_EncryptUpdate(c, expected.data(), &n, text.data(), static_cast<int>(text.size())), 1);
        EVP_CIPHER_CTX_free(c);
        expected.resize(static_cast<size_t>(n));

        ctr ours{kuznyechik()};
        ASSERT_TRUE(ours.init(key.data(), key.size(), iv.data(), iv.size()));
        bytes out(text.size());
        for (size_t at = 0; at < text.size();) {
            const size_t piece = std::min<size_t>(text.size() - at, rng() % 70);
            ASSERT_TRUE(ours.encrypt(text.data() + at, piece, out.data() + at));
            at += piece;
        }
        ASSERT_EQ(hex(out), hex(expected)) << "trial " << trial << ", " << text.size() << " bytes";
    }
    EVP_CIPHER_free(gost);
    OSSL_PROVIDER_unload(provider);
    OSSL_LIB_CTX_free(ctx);
}

}  // namespace
