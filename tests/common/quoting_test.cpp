#include "common/quoting.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

namespace {

TEST(Quoting, AsQuoted)
{
    struct Case {
        std::string text;
        char delimiter;
        char escape;
        std::string expected;
    };
    const Case cases[] = {
        {"", '"', '\\', "\"\""},
        {"", '\'', '\\', "''"},
        {"plain name", '"', '\\', "\"plain name\""},
        {"say \"hi\" \\o/", '"', '\\', "\"say \\\"hi\\\" \\\\o/\""},
        {"$HOME `id` $(ls)\t\n", '"', '\\', "\"$HOME `id` $(ls)\t\n\""},
        {"it's \"x\"", '\'', '\\', "'it\\'s \"x\"'"},
        {"a|b#c", '|', '#', "|a#|b##c|"},
        {"\xc3\xa9\xff", '"', '\\', "\"\xc3\xa9\xff\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kelvomar::as_quoted(c.text, c.delimiter, c.escape), c.expected) << c.text;
}

TEST(Quoting, SingleQuoted)
{
    EXPECT_EQ(kelvomar_common::single_quoted("/opt/kelvomar/etc/it's.config"), "'/opt/kelvomar/etc/it\\'s.config'");
    EXPECT_EQ(kelvomar_common::single_quoted("C:\\dir"), "'C:\\\\dir'");
    EXPECT_EQ(kelvomar::as_quoted_single(std::string("\"")), "'\"'");
}

TEST(Quoting, WideTextAndMovedText)
{
    EXPECT_EQ(kelvomar::as_quoted(std::wstring(L"a\"b")), L"\"a\\\"b\"");
    EXPECT_EQ(kelvomar::make_quoted_std(std::string("x'y"), '\'', '\\'), "'x\\'y'");
}

TEST(Quoting, ReadsBackAsTheOriginalText)
{
    const std::string texts[] = {"", "\"", "\\", "\\\"", "a \" b \\ c", "end\\"};
    for (const std::string& text : texts) {
        std::istringstream in(kelvomar::as_quoted(text, '"', '\\') + " rest");
        std::string back;
        in >> std::quoted(back, '"', '\\');
        EXPECT_EQ(back, text);
    }
}

}  // namespace
