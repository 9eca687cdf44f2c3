// Sizes for people and digests as hexadecimal text.

#include "common/digest_text.h"
#include "common/human_size.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace hx_utils_common;

TEST(SizeToHuman, UnitsAndPrecision)
{
    struct Case {
        float size;
        unsigned int precision;
        std::string expected;
    };
    const Case cases[] = {
        {1536.0f, 2, "1.50 kB"},
        {1024.0f, 2, "1 kB"},
        {512.0f, 0, "512 B"},
        {0.0f, 2, "0 B"},
        {1023.0f, 1, "1023 B"},
        {1100.0f, 2, "1.07 kB"},
        // Rounded to zeros: the fraction goes.
        {1028.0f, 2, "1 kB"},
        {1048576.0f, 3, "1 MB"},
        {1.5f * 1024 * 1024 * 1024, 1, "1.5 GB"},
        {std::ldexp(1.0f, 40), 0, "1 TB"},
        {std::ldexp(1.0f, 80), 2, "1 YB"},
        {std::ldexp(1.0f, 90), 2, "1 Unknown"},
        {std::ldexp(1.0f, 100), 0, "1 Unknown"},
        {std::ldexp(1.0f, 80) * 1023, 0, "1023 YB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(size_to_human(c.size, c.precision), c.expected) << c.size << " / " << c.precision;
    }
}

TEST(SizeToHuman, InfiniteSizeEnds)
{
    // Dividing infinity never brings it below 1024: the loop must still stop.
    EXPECT_EQ(size_to_human(std::numeric_limits<float>::infinity(), 2), "inf Unknown");
    EXPECT_EQ(size_to_human(std::numeric_limits<float>::max(), 0), "256 Unknown");
}

TEST(DigestText, HexadecimalFirstByteFirst)
{
    const unsigned char two[] = {0x00, 0xab};
    EXPECT_EQ(digest_as_string(two, 2), "00ab");
    EXPECT_EQ(digest_as_string(two, 0), "");

    std::vector<unsigned char> all(256);
    std::string expected;
    const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
        expected += digits[i / 16];
        expected += digits[i % 16];
    }
    EXPECT_EQ(digest_as_string(all.data(), 256), expected);
}

TEST(DigestText, PrintedWithABlankAfterEveryByte)
{
    struct Case {
        std::vector<unsigned char> digest;
        unsigned int bits;
        std::string printed;
    };
    const Case cases[] = {
        {{0x00, 0xab}, 16, "00 ab \n"},
        // Only whole bytes of the bit count.
        {{0x01, 0x02, 0x03}, 20, "01 02 \n"},
        {{0xff}, 0, "\n"},
    };
    for (Case c : cases) {
        testing::internal::CaptureStdout();
        print_digest(c.digest.data(), c.bits);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.bits;
    }
}

}  // namespace
