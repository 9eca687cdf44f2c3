// Foreign text on one line: the escapes, and ordinary names and quoted texts left as they are.
#include <gtest/gtest.h>

#include <string>

#include "common/one_line_text.h"

namespace {

TEST(OneLineText, EscapesControlCharactersAndBackslashes)
{
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"web", "web"},
        {"web, db (copy) 1..3 a`id` ~%=@+*?![]", "web, db (copy) 1..3 a`id` ~%=@+*?![]"},
        {"caf\xc3\xa9 \xe2\x80\xa8", "caf\xc3\xa9 \xe2\x80\xa8"},
        {"a\nb", "a\\nb"},
        {"a\r\n", "a\\r\\n"},
        {"\tx", "\\tx"},
        // A backslash is doubled only where it could be read as an escape.
        {"\\n \\r \\t \\x41 \\\\", "\\\\n \\\\r \\\\t \\\\x41 \\\\\\\\"},
        {"ends in \\", "ends in \\\\"},
        {"grep 'Manufacturer\\|Product' 'it'\\''s' \"q\\\"t\"", "grep 'Manufacturer\\|Product' 'it'\\''s' \"q\\\"t\""},
        {"back\\slash", "back\\slash"},
        {std::string("\0\x01\x1b\x1f\x7f", 5), "\\x00\\x01\\x1b\\x1f\\x7f"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kelvomar::one_line_text(c.text), c.expected) << c.text;
    }
}

// Names on the template listing: only line breaks are escaped.
TEST(OneLineText, ListedNamesEscapeLineBreaksOnly)
{
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"web", "web"},
        {"a\nb", "a\\nb"},
        {"a\r\n", "a\\r\\n"},
        {"tab\there", "tab\there"},
        {"back\\slash \\n \\", "back\\slash \\n \\"},
        {std::string("\0\x01\x1b\x7f\v\f", 6), std::string("\0\x01\x1b\x7f\v\f", 6)},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kelvomar::line_breaks_escaped(c.text), c.expected) << c.text;
    }
}

TEST(OneLineText, NoByteOfTheResultEndsALine)
{
    std::string every_byte;
    for (int byte = 0; byte < 256; ++byte) {
        every_byte += static_cast<char>(byte);
    }
    const std::string line = kelvomar::one_line_text(every_byte);
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 && byte != 0x7f) << static_cast<int>(byte);
    }
}

}  // namespace
