// Shell escaping of paths and splitting of four-part version texts.
#include "modules/shell_escaping.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Runs `set -- <word>` in /bin/sh and returns the words the shell made of it, each
// exactly as the command would receive it.
std::vector<std::string> words_seen_by_shell(const std::string& word)
{
    const std::string command = "set -- " + word + "; /usr/bin/printf '%s\\0' \"$@\"";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {"<popen failed>"};
    std::string raw;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        raw.append(buffer, n);
    ::pclose(pipe);
    std::vector<std::string> words;
    std::string current;
    for (char c : raw) {
        if (c == '\0') {
            words.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return words;
}

struct ShieldCase {
    const char* input;
    const char* shielded;
};

class ShieldString : public ::testing::TestWithParam<ShieldCase> {};

TEST_P(ShieldString, EscapesExactlyTheSpecialCharacters)
{
    std::string text = GetParam().input;
    shield_string_for_command(text);
    EXPECT_EQ(text, GetParam().shielded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShieldString,
    ::testing::Values(
        ShieldCase{"/tmp/op/a b.meta", "/tmp/op/a\\ b\\.meta"},
        ShieldCase{"", ""},
        ShieldCase{"plain/path-with_all,=+", "plain/path-with_all,=+"},
        ShieldCase{"back\\slash", "back\\\\slash"},
        ShieldCase{" \\'\"^*?[]{}><|;&$!()`~#:@.%",
                   "\\ \\\\\\'\\\"\\^\\*\\?\\[\\]\\{\\}\\>\\<\\|\\;\\&\\$\\!\\(\\)\\`\\~\\#\\:\\@\\.\\%"},
        // Control characters stay in the word inside single quotes.
        ShieldCase{"a\nb", "a'\n'b"},
        ShieldCase{"a\tb\rc", "a'\t'b'\r'c"},
        ShieldCase{"caf\xc3\xa9", "caf\xc3\xa9"}));

TEST(ShieldString, EscapingTwiceDoublesEveryBackslash)
{
    std::string text = "a\\b";
    shield_string_for_command(text);
    shield_string_for_command(text);
    EXPECT_EQ(text, "a\\\\\\\\b");
}

// Whatever the text holds, the shell reads the shielded form back as that one text.
TEST(ShieldString, HostileTextsReachTheShellAsOneWord)
{
    const std::vector<std::string> texts = {
        "/tmp/op/a b.meta", "it's \"quoted\"", "$(touch /tmp/kevra-pwned)", "`id`",
        "a; rm -rf /", "line1\nline2", "tab\there", "cr\rhere", "trailing\n", "\n",
        "*?[a]", "~root", "#comment", "{a,b}", "x&y|z>w<v", "caf\xc3\xa9 ol\xe9", "a\\nb",
        "\x01\x1f\x7f"};
    for (const std::string& original : texts) {
        std::string word = original;
        shield_string_for_command(word);
        EXPECT_EQ(words_seen_by_shell(word), std::vector<std::string>{original})
            << "shielded as: " << word;
    }
}

struct VersionCase {
    const char* full;
    const char* major_minor;
    const char* third;
    const char* fourth;
};

class SplitFullVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(SplitFullVersion, GivesMajorMinorThirdAndFourth)
{
    std::string major_minor = "x", third = "x", fourth = "x";
    EXPECT_EQ(split_full_version(GetParam().full, major_minor, third, fourth), 0);
    EXPECT_EQ(major_minor, GetParam().major_minor);
    EXPECT_EQ(third, GetParam().third);
    EXPECT_EQ(fourth, GetParam().fourth);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitFullVersion,
                         ::testing::Values(VersionCase{"2.1.0.345", "2.1", "0", "345"},
                                           VersionCase{"2.1", "2.1", "", ""},
                                           VersionCase{"1.2.3.4.5", "1.2", "3", "4"},
                                           VersionCase{"", ".", "", ""},
                                           VersionCase{"1..3", "1.", "3", ""},
                                           VersionCase{"7", "7.", "", ""}));

}  // namespace
