#include <gtest/gtest.h>

#include <array>
#include <string>
#include <type_traits>

#include "crypto/builtin_constants.h"
#include "crypto/keyed_hash.h"
#include "tests/crypto/hash_test_util.h"

namespace {

using Digest = std::array<unsigned char, 32>;
using Hasher = kelvomar::hash::sha::Hasher<Digest>;

// The call operator takes the text by value and works on a temporary only.
static_assert(std::is_invocable_r_v<Digest, Hasher&&, std::string>, "callable on a temporary");
static_assert(!std::is_invocable_v<Hasher&, std::string>, "not callable on a named object");

TEST(KeyedHashToString, PrintsLastByteFirstInLowerCase) {
    struct Case {
        const char* name;
        Digest digest;
        const char* text;
    };
    Digest rising{}, mixed{};
    for (int i = 0; i < 32; ++i)
        rising[i] = static_cast<unsigned char>(i);
    mixed[31] = 0x0a;  // printed first, with its leading zero
    mixed[30] = 0xff;
    mixed[0] = 0xab;
    const Case cases[] = {
        {"0x00..0x1f", rising, "1f1e1d1c1b1a191817161514131211100f0e0d0c0b0a09080706050403020100"},
        {"zeros", Digest{}, "0000000000000000000000000000000000000000000000000000000000000000"},
        {"leading zero, a-f lower case", mixed, "0aff0000000000000000000000000000000000000000000000000000000000ab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kelvomar::hash::to_string(c.digest), c.text) << c.name;
}

// The keyed hash is HMAC-SHA256 under the 93 built-in digits, byte for byte
// over the text (an empty text included), checked against OpenSSL.
TEST(KeyedHash, IsHmacSha256UnderTheBuiltInKey) {
    const std::string key(kelvomar::kKeyedHashKey, 93);
    const std::string texts[] = {"", "kevra_template", "kevra_template42", std::string("a\0b", 3),
                                 "\xd0\xbc\xd0\xb8\xd1\x80", std::string(1000, 'x')};
    for (const auto& text : texts) {
        const Digest d = kelvomar::hash::sha::Hasher<Digest>{}(text);
        const auto expected = hash_test::openssl_hmac(EVP_sha256(), hash_test::bytes(key), hash_test::bytes(text));
        EXPECT_EQ(hash_test::hex(d.data(), d.size()), hash_test::hex(expected)) << text.size() << " bytes";
        EXPECT_EQ(kelvomar::hash::sha::make_hash<Digest>(text), d);
    }
}

// Lock-file names use the first eight characters: digest bytes 31, 30, 29 and 28.
TEST(KeyedHash, LockNamePrefixIsTheLastFourBytes) {
    const Digest d = kelvomar::hash::sha::make_hash<Digest>(std::string("kevra_template") + "17");
    const std::string text = kelvomar::hash::to_string(d);
    ASSERT_EQ(text.size(), 64u);
    EXPECT_EQ(text.substr(0, 8), hash_test::hex(std::array<unsigned char, 4>{d[31], d[30], d[29], d[28]}.data(), 4));
    EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(KeyedHash, MakeHashLeavesTheCallersTextUntouched) {
    std::string text = "module and resource";
    const Digest d = kelvomar::hash::sha::make_hash<Digest>(text);
    EXPECT_EQ(text, "module and resource");
    EXPECT_EQ(kelvomar::hash::sha::make_hash<Digest>(text), d);
}

}  // namespace
