// The machine-bound string cipher on this host: the identifier against OpenSSL,
// the cipher text's layout against Kuznyechik itself, and round trips.

#include "crypto/string_cipher.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crypto/builtin_constants.h"
#include "crypto/hxcrypto/kuznyechik.h"
#include "tests/crypto/hash_test_util.h"
#include "tests/support/string_cipher_calls.h"

namespace {

using hx_utils_common::server::hardware_id;
using kevra_test::decrypted;
using kevra_test::encrypted;

bool lower_hex(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The identifier computed independently: OpenSSL's HMAC-SHA256 of node name,
// first line of the machine id (only read here) and system name.
TEST(HardwareId, KeyedHashOfNodeMachineAndSystem)
{
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    std::string machine;
    std::ifstream file("/etc/machine-id");
    std::getline(file, machine);
    const std::string joined = std::string(names.nodename) + machine + names.sysname;
    unsigned char mac[32];
    unsigned int length = 0;
    ASSERT_NE(HMAC(EVP_sha256(), kelvomar::kKeyedHashKey, static_cast<int>(sizeof(kelvomar::kKeyedHashKey) - 1),
                   reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), mac, &length),
              nullptr);
    ASSERT_EQ(length, 32u);

    const std::string id = hardware_id();
    EXPECT_EQ(id, hash_test::hex(mac, 32)) << "first byte first";
    EXPECT_EQ(hardware_id(), id) << "the same on every call";
}

TEST(StringCipher, CipherTextLengthsInWholeBlocks)
{
    struct Case {
        std::size_t text_bytes;
        std::size_t hex_digits;
    };
    // At least one NUL byte is added, at most sixteen.
    const Case cases[] = {{0, 32}, {1, 32}, {15, 32}, {16, 64}, {17, 64}, {31, 64}, {32, 96}, {1000, 2016}};
    for (const Case& c : cases) {
        const std::string cipher = encrypted(std::string(c.text_bytes, 'q'));
        EXPECT_EQ(cipher.size(), c.hex_digits) << c.text_bytes;
        EXPECT_TRUE(lower_hex(cipher)) << cipher;
    }
}

// The cipher text is the text with its NUL bytes XOR Kuznyechik's encryption of
// the counter blocks (the counter constant's first two bytes, then a count
// from zero), keyed with the identifier's first 32 digits, written first byte first.
TEST(StringCipher, KuznyechikCounterModeUnderTheHostKey)
{
    const std::string id = hardware_id();
    hxcrypto::kuznyechik cipher;
    ASSERT_TRUE(cipher.init(reinterpret_cast<const unsigned char*>(id.data()), hxcrypto::block_cipher::encryption));
    std::vector<unsigned char> keystream;
    for (unsigned char count = 0; count < 3; ++count) {
        unsigned char counter[16] = {static_cast<unsigned char>(kelvomar::kCounterConstant[0]),
                                     static_cast<unsigned char>(kelvomar::kCounterConstant[1])};
        counter[15] = count;
        unsigned char block[16];
        cipher.encrypt_block(counter, block);
        keystream.insert(keystream.end(), block, block + 16);
    }

    const std::string text = "The quick brown fox jumps over the lazy dog";  // 43 bytes: 48 with padding
    std::vector<unsigned char> expected(48, 0);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char plain = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        expected[i] = plain ^ keystream[i];
    }
    EXPECT_EQ(encrypted(text), hash_test::hex(expected));
    EXPECT_EQ(encrypted(""), hash_test::hex(std::vector<unsigned char>(keystream.begin(), keystream.begin() + 16)));
}

TEST(StringCipher, RoundTrips)
{
    std::mt19937 random(7);
    std::vector<std::string> texts = {"", "a", "secret", std::string(15, 'x'), std::string(16, 'y'),
                                      std::string(17, 'z'), "p\xc3\xa4ss w\xc3\xb6rd", "\x01\xff\x7f\x80"};
    for (std::size_t length : {31u, 64u, 255u, 4096u}) {
        std::string text(length, '\0');
        for (char& c : text) {
            c = static_cast<char>(1 + random() % 255);  // no NUL byte
        }
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        const std::string cipher = encrypted(text);
        EXPECT_NE(cipher, text);
        EXPECT_EQ(decrypted(cipher), text) << text.size() << " bytes";
    }
}

TEST(StringCipher, ReadingTheCipherText)
{
    const std::string cipher = encrypted("secret");
    std::string upper = cipher;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });

    struct Case {
        const char* what;
        std::string cipher;
        std::string text;
    };
    const Case cases[] = {
        {"upper-case digits", upper, "secret"},
        {"a last digit without a partner", cipher + "f", "secret"},
        // The text ends at its first NUL byte.
        {"a NUL byte inside", encrypted(std::string("ab\0cd", 5)), "ab"},
        // Pairs that are no hexadecimal number read as the byte 0.
        {"no hexadecimal digits", std::string(32, 'z'), decrypted(std::string(32, '0'))},
        {"empty", "", ""},
        {"one digit", "7", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decrypted(c.cipher), c.text) << c.what;
    }
}

}  // namespace
