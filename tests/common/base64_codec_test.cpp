// Base64: the published vectors, round trips of any bytes, and texts that are
// not Base64.

#include "common/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using hx_utils_common::base64_decode;
using hx_utils_common::base64_encode;

// RFC 4648, section 10, and the shortest texts.
TEST(Base64, PublishedVectors)
{
    struct Case {
        std::string text;
        std::string encoded;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {std::string("\0", 1), "AA=="},
        {std::string("\0\0\0", 3), "AAAA"},
        {"\xff\xfe\xfd", "//79"},
        {"\xfb\xff", "+/8="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base64_encode(c.text), c.encoded);
        EXPECT_EQ(base64_decode(c.encoded), c.text) << c.encoded;
    }
}

TEST(Base64, RoundTripOfAnyBytes)
{
    std::mt19937 random(20261210);
    for (std::size_t length = 0; length < 200; ++length) {
        std::string text(length, '\0');
        for (char& c : text) {
            c = static_cast<char>(random() & 0xff);
        }
        const std::string encoded = base64_encode(text);
        EXPECT_EQ(encoded.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(base64_decode(encoded), text) << "length " << length;
        // Without its padding the text carries the same bytes.
        const std::string bare = encoded.substr(0, encoded.find('='));
        EXPECT_EQ(base64_decode(bare), text) << "length " << length;
    }
}

TEST(Base64, PaddingMayBeShortOrMissing)
{
    struct Case {
        std::string encoded;
        std::string text;
    };
    const Case cases[] = {
        {"Zg", "f"},
        {"Zg=", "f"},
        {"Zm8", "fo"},
        {"Zm9vYg", "foob"},
        // Leftover bits that fill no byte are dropped, set or not.
        {"Zh==", "f"},
        {"Z", ""},
        {"Zm9vY", "foo"},
        {"=", ""},
        {"==", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base64_decode(c.encoded), c.text) << c.encoded;
    }
}

TEST(Base64, TextsOutsideTheAlphabetDecodeToNothing)
{
    const std::string cases[] = {
        "Zm9v YmFy", "Zm9v\n", "\nZm9v", "Zm9v*", "Zm9v-_", "Zm9v\t",
        std::string("Zm\0v", 4),
        // '=' only as up to two padding characters at the end.
        "Zm=9v", "Zg===", "====", "=Zm9v", "Zm9v=Zm9v",
        "\xc3\xa9",
    };
    for (const std::string& encoded : cases) {
        EXPECT_EQ(base64_decode(encoded), "") << encoded;
    }
}

}  // namespace
