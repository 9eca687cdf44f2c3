// Kuznyechik against the worked examples of GOST R 34.12-2015 (RFC 7801) and
// against OpenSSL's GOST provider on random keys and blocks.

#include "crypto/hxcrypto/kuznyechik.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/crypto/hex_text.h"

namespace {

using bytes = std::vector<unsigned char>;
using hxcrypto::block_cipher;
using hxcrypto::kuznyechik;

using crypto_test::hex;
using crypto_test::unhex;

const std::string kKey = "8899aabbccddeeff0011223344556677fedcba98765432100123456789abcdef";
const std::string kPlain = "1122334455667700ffeeddccbbaa9988";
const std::string kCipher = "7f679d90bebc24305a468d42b9d4edcd";

// --- The transforms, one published step at a time ------------------------

struct transform_case {
    const char* name;
    void (*apply)(const unsigned char*, unsigned char*);
    const char* in;
    const char* out;
};

const transform_case kTransformCases[] = {
    {"S1", kuznyechik::apply_s, "ffeeddccbbaa99881122334455667700", "b66cd8887d38e8d77765aeea0c9a7efc"},
    {"S2", kuznyechik::apply_s, "b66cd8887d38e8d77765aeea0c9a7efc", "559d8dd7bd06cbfe7e7b262523280d39"},
    {"S3", kuznyechik::apply_s, "559d8dd7bd06cbfe7e7b262523280d39", "0c3322fed531e4630d80ef5c5a81c50b"},
    {"S4", kuznyechik::apply_s, "0c3322fed531e4630d80ef5c5a81c50b", "23ae65633f842d29c5df529c13f5acda"},
    {"R1", kuznyechik::apply_r, "00000000000000000000000000000100", "94000000000000000000000000000001"},
    {"R2", kuznyechik::apply_r, "94000000000000000000000000000001", "a5940000000000000000000000000000"},
    {"R3", kuznyechik::apply_r, "a5940000000000000000000000000000", "64a59400000000000000000000000000"},
    {"R4", kuznyechik::apply_r, "64a59400000000000000000000000000", "0d64a594000000000000000000000000"},
    {"L1", kuznyechik::apply_l, "64a59400000000000000000000000000", "d456584dd0e3e84cc3166e4b7fa2890d"},
    {"L2", kuznyechik::apply_l, "d456584dd0e3e84cc3166e4b7fa2890d", "79d26221b87b584cd42fbc4ffea5de9a"},
    {"L3", kuznyechik::apply_l, "79d26221b87b584cd42fbc4ffea5de9a", "0e93691a0cfc60408b7b68f66b513c13"},
    {"L4", kuznyechik::apply_l, "0e93691a0cfc60408b7b68f66b513c13", "e6a8094fee0aa204fd97bcb0b44b8580"},
    // The inverse of L takes each published L step back.
    {"L1^-1", kuznyechik::apply_inverse_l, "d456584dd0e3e84cc3166e4b7fa2890d", "64a59400000000000000000000000000"},
    {"L2^-1", kuznyechik::apply_inverse_l, "79d26221b87b584cd42fbc4ffea5de9a", "d456584dd0e3e84cc3166e4b7fa2890d"},
    {"L3^-1", kuznyechik::apply_inverse_l, "0e93691a0cfc60408b7b68f66b513c13", "79d26221b87b584cd42fbc4ffea5de9a"},
    {"L4^-1", kuznyechik::apply_inverse_l, "e6a8094fee0aa204fd97bcb0b44b8580", "0e93691a0cfc60408b7b68f66b513c13"},
};

void PrintTo(const transform_case& c, std::ostream* os) { *os << c.name << "(" << c.in << ")"; }

class KuznyechikTransform : public ::testing::TestWithParam<transform_case> {};

TEST_P(KuznyechikTransform, GivesThePublishedValueInPlaceToo) {
    const transform_case& c = GetParam();
    bytes in = unhex(c.in);
    bytes out(16);
    c.apply(in.data(), out.data());
    EXPECT_EQ(hex(out), c.out);
    c.apply(in.data(), in.data());
    EXPECT_EQ(hex(in), c.out);
}

INSTANTIATE_TEST_SUITE_P(Rfc7801, KuznyechikTransform, ::testing::ValuesIn(kTransformCases),
                         [](const ::testing::TestParamInfo<transform_case>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (ch == '^' || ch == '-') ch = '_';
                             return n;
                         });

TEST(KuznyechikTransform, SubstitutionIsAPermutation) {
    std::set<unsigned char> seen;
    for (int b = 0; b < 256; b += 16) {
        unsigned char in[16];
        unsigned char out[16];
        for (int k = 0; k < 16; ++k) in[k] = static_cast<unsigned char>(b + k);
        kuznyechik::apply_s(in, out);
        seen.insert(out, out + 16);
    }
    EXPECT_EQ(seen.size(), 256u);
}

// --- Key schedule ---------------------------------------------------------

TEST(KuznyechikSchedule, IterationConstantsArePublishedValues) {
    const char* expected[] = {
        "6ea276726c487ab85d27bd10dd849401", "dc87ece4d890f4b3ba4eb92079cbeb02",
        "b2259a96b4d88e0be7690430a44f7f03", "7bcd1b0b73e32ba5b79cb140f2551504",
        "156f6d791fab511deabb0c502fd18105", "a74af7efab73df160dd208608b9efe06",
        "c9e8819dc73ba5ae50f5b570561a6a07", "f6593616e6055689adfba18027aa2a08",
    };
    for (unsigned i = 1; i <= 8; ++i) {
        unsigned char c[16];
        kuznyechik::iteration_constant(i, c);
        EXPECT_EQ(hex(c, 16), expected[i - 1]) << "C" << i;
    }
}

TEST(KuznyechikSchedule, RoundKeysArePublishedValues) {
    const char* expected[] = {
        "8899aabbccddeeff0011223344556677", "fedcba98765432100123456789abcdef",
        "db31485315694343228d6aef8cc78c44", "3d4553d8e9cfec6815ebadc40a9ffd04",
        "57646468c44a5e28d3e59246f429f1ac", "bd079435165c6432b532e82834da581b",
        "51e640757e8745de705727265a0098b1", "5a7925017b9fdd3ed72a91a22286f984",
        "bb44e25378c73123a5f32f73cdb6e517", "72e9dd7416bcf45b755dbaa88e4a4043",
    };
    kuznyechik k;
    ASSERT_TRUE(k.init(unhex(kKey).data(), block_cipher::encryption));
    for (size_t i = 0; i < 10; ++i) {
        unsigned char rk[16];
        k.round_key(i, rk);
        EXPECT_EQ(hex(rk, 16), expected[i]) << "K" << i + 1;
    }
}

TEST(KuznyechikSchedule, DecryptionKeysAreTheInverseLinearTransformOfKeysTwoToTen) {
    const bytes key = unhex(kKey);
    kuznyechik enc;
    kuznyechik dec;
    ASSERT_TRUE(enc.init(key.data(), block_cipher::encryption));
    ASSERT_TRUE(dec.init(key.data(), block_cipher::decryption));
    for (size_t i = 0; i < 10; ++i) {
        unsigned char e[16];
        unsigned char d[16];
        enc.round_key(i, e);
        dec.round_key(i, d);
        if (i > 0) kuznyechik::apply_inverse_l(e, e);
        EXPECT_EQ(hex(d, 16), hex(e, 16)) << "round key " << i;
    }
}

// --- Blocks ---------------------------------------------------------------

class KuznyechikBlock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(enc.init(key.data(), block_cipher::encryption));
        ASSERT_TRUE(dec.init(key.data(), block_cipher::decryption));
    }
    const bytes key = unhex(kKey);
    kuznyechik enc;
    kuznyechik dec;
};

TEST_F(KuznyechikBlock, WorkedExampleBothDirections) {
    unsigned char out[16];
    enc.encrypt_block(unhex(kPlain).data(), out);
    EXPECT_EQ(hex(out, 16), kCipher);
    dec.decrypt_block(unhex(kCipher).data(), out);
    EXPECT_EQ(hex(out, 16), kPlain);
}

TEST_F(KuznyechikBlock, ScheduleOfTheOtherDirectionGivesAWrongBlock) {
    unsigned char out[16];
    enc.decrypt_block(unhex(kCipher).data(), out);
    EXPECT_NE(hex(out, 16), kPlain);
    dec.encrypt_block(unhex(kPlain).data(), out);
    EXPECT_NE(hex(out, 16), kCipher);
}

TEST_F(KuznyechikBlock, InPlaceEqualsSeparateBuffers) {
    bytes buf = unhex(kPlain);
    enc.encrypt_block(buf.data(), buf.data());
    EXPECT_EQ(hex(buf), kCipher);
    dec.decrypt_block(buf.data(), buf.data());
    EXPECT_EQ(hex(buf), kPlain);
}

// Runs below, at and above the four blocks that are worked side by side.
TEST_F(KuznyechikBlock, RunsOfBlocksEqualSingleBlocks) {
    for (size_t n : {1, 3, 4, 5, 8, 9}) {
        bytes in(16 * n);
        for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 7 + 3);
        bytes run(in.size());
        bytes single(in.size());
        enc.encrypt_blocks(in.data(), run.data(), n);
        for (size_t b = 0; b < n; ++b) enc.encrypt_block(in.data() + 16 * b, single.data() + 16 * b);
        EXPECT_EQ(run, single) << n << " blocks";
        bytes back(in.size());
        dec.decrypt_blocks(run.data(), back.data(), n);
        EXPECT_EQ(back, in) << n << " blocks";
        enc.encrypt_blocks(in.data(), in.data(), n);
        EXPECT_EQ(in, single) << n << " blocks in place";
    }
}

TEST_F(KuznyechikBlock, CloneHasNoKeyUntilItsOwnInit) {
    std::unique_ptr<block_cipher> copy(enc.clone());
    ASSERT_NE(dynamic_cast<kuznyechik*>(copy.get()), nullptr);
    unsigned char out[16];
    copy->encrypt_block(unhex(kPlain).data(), out);
    EXPECT_NE(hex(out, 16), kCipher);
    ASSERT_TRUE(copy->init(key.data(), block_cipher::encryption));
    copy->encrypt_block(unhex(kPlain).data(), out);
    EXPECT_EQ(hex(out, 16), kCipher);
}

TEST_F(KuznyechikBlock, ClearWipesEveryRoundKey) {
    enc.clear();
    for (size_t i = 0; i < 10; ++i) {
        unsigned char rk[16];
        enc.round_key(i, rk);
        EXPECT_EQ(hex(rk, 16), std::string(32, '0')) << "round key " << i;
    }
}

TEST(Kuznyechik, SizesAndNullKey) {
    kuznyechik k;
    EXPECT_EQ(k.blocksize(), 128u);
    EXPECT_EQ(k.keysize(), 256u);
    EXPECT_FALSE(k.init(nullptr, block_cipher::encryption));
}

// --- OpenSSL's GOST provider as an oracle -------------------------------

// kuznyechik-ecb from the GOST provider in a library context of its own;
// null when the provider is not installed.
struct gost_ecb {
    gost_ecb() {
        ctx = OSSL_LIB_CTX_new();
        if (ctx != nullptr) provider = OSSL_PROVIDER_load(ctx, "gostprov");
        if (provider != nullptr) cipher = EVP_CIPHER_fetch(ctx, "kuznyechik-ecb", nullptr);
    }
    ~gost_ecb() {
        EVP_CIPHER_free(cipher);
        if (provider != nullptr) OSSL_PROVIDER_unload(provider);
        OSSL_LIB_CTX_free(ctx);
    }
    bytes run(const bytes& key, const bytes& in, bool encrypt) const {
        EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
        bytes out(in.size() + 16);
        int n = 0;
        int tail = 0;
        EXPECT_EQ(EVP_CipherInit_ex(c, cipher, nullptr, key.data(), nullptr, encrypt ? 1 : 0), 1);
        EVP_CIPHER_CTX_set_padding(c, 0);
        EXPECT_EQ(EVP_CipherUpdate(c, out.data(), &n, in.data(), static_cast<int>(in.size())), 1);
        EXPECT_EQ(EVP_CipherFinal_ex(c, out.data() + n, &tail), 1);
        EVP_CIPHER_CTX_free(c);
        out.resize(static_cast<size_t>(n + tail));
        return out;
    }
    OSSL_LIB_CTX* ctx = nullptr;
    OSSL_PROVIDER* provider = nullptr;
    EVP_CIPHER* cipher = nullptr;
};

TEST(KuznyechikOracle, RandomKeysAndBlocksMatchOpenSslGost) {
    gost_ecb gost;
    if (gost.cipher == nullptr) GTEST_SKIP() << "OpenSSL GOST provider (libengine-gost-openssl) not installed";
    std::mt19937 rng(20151);
    for (int trial = 0; trial < 50; ++trial) {
        bytes key(32);
        bytes plain(16 * 8);
        for (auto& b : key) b = static_cast<unsigned char>(rng());
        for (auto& b : plain) b = static_cast<unsigned char>(rng());
        kuznyechik enc;
        kuznyechik dec;
        ASSERT_TRUE(enc.init(key.data(), block_cipher::encryption));
        ASSERT_TRUE(dec.init(key.data(), block_cipher::decryption));
        bytes ours(plain.size());
        enc.encrypt_blocks(plain.data(), ours.data(), 8);
        ASSERT_EQ(hex(ours), hex(gost.run(key, plain, true))) << "trial " << trial;
        bytes back(plain.size());
        dec.decrypt_blocks(ours.data(), back.data(), 8);
        ASSERT_EQ(back, plain) << "trial " << trial;
        ASSERT_EQ(hex(gost.run(key, ours, false)), hex(plain)) << "trial " << trial;
    }
}

}  // namespace
