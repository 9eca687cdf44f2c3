// Every value quoted by shell_quote must reach a real /bin/sh command as exactly
// the one argument it was, in both styles.

#include "common/shell_quote.h"

#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kelvomar::quote_style;
using kelvomar::shell_quote;

// Runs `printf '%s\0' first <word> last` through /bin/sh and returns the
// NUL-separated arguments printf received.
std::vector<std::string> arguments_seen_by_shell(const std::string& word)
{
    const std::string command = "printf '%s\\0' first " + word + " last";
    const kevra_test::ProgramResult r = kevra_test::run_program({"/bin/sh", "-c", command});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    std::vector<std::string> args;
    std::string current;
    for (char c : r.out) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    EXPECT_TRUE(current.empty()) << "output not NUL-terminated: " << r.out;
    return args;
}

const std::vector<std::string> kHostileValues = {
    "plain-name_1.2",
    "two words",
    "  leading and trailing  ",
    "it's",
    "'",
    "''",
    "'\\''",
    "say \"hi\"",
    "$(touch /tmp/kevra_shell_quote_pwned)",
    "`id`",
    "$HOME ${PATH} $1 $@ $*",
    "line1\nline2\n",
    "tab\there",
    "",
    "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xff\xfe\x80",
    "a;b|c&d>e<f",
    "*?[a-z]~",
    "\\back\\slash\\",
    "-n",
    "#comment",
    "!event",
    "{a,b}",
    "a\rb\x01\x7f",
};

class ShellQuoteReachesShell : public ::testing::TestWithParam<quote_style> {};

TEST_P(ShellQuoteReachesShell, EachValueIsExactlyOneArgument)
{
    for (const std::string& value : kHostileValues) {
        const std::vector<std::string> args = arguments_seen_by_shell(shell_quote(value, GetParam()));
        ASSERT_EQ(args.size(), 3u) << "value: [" << value << "] quoted: " << shell_quote(value, GetParam());
        EXPECT_EQ(args[0], "first");
        EXPECT_EQ(args[1], value);
        EXPECT_EQ(args[2], "last");
    }
}

INSTANTIATE_TEST_SUITE_P(BothStyles, ShellQuoteReachesShell,
                         ::testing::Values(quote_style::when_needed, quote_style::always),
                         [](const ::testing::TestParamInfo<quote_style>& info) {
                             return info.param == quote_style::always ? "always" : "when_needed";
                         });

TEST(ShellQuote, ExactSpelling)
{
    struct Case {
        std::string value;
        quote_style style;
        std::string expected;
    };
    const Case cases[] = {
        // An ordinary value keeps the command line exactly as it would be written by hand.
        {"one-template_7", quote_style::when_needed, "one-template_7"},
        {"/var/lib/one/datastores/1/abc.img", quote_style::when_needed, "/var/lib/one/datastores/1/abc.img"},
        {"user@host:pool/img,x=1+2%", quote_style::when_needed, "user@host:pool/img,x=1+2%"},
        {"one-template_7", quote_style::always, "'one-template_7'"},
        {"", quote_style::when_needed, "''"},
        {"", quote_style::always, "''"},
        {"a b", quote_style::when_needed, "'a b'"},
        {"it's", quote_style::when_needed, "'it'\\''s'"},
        {"it's", quote_style::always, "'it'\\''s'"},
        {"~root", quote_style::when_needed, "'~root'"},
        {"\xc3\xa9", quote_style::when_needed, "'\xc3\xa9'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shell_quote(c.value, c.style), c.expected) << "value: [" << c.value << "]";
}

TEST(ShellQuote, DefaultStyleIsWhenNeeded)
{
    EXPECT_EQ(shell_quote("abc"), "abc");
    EXPECT_EQ(shell_quote("a'b"), "'a'\\''b'");
}

}  // namespace
