// Validators of numbers, times, names, addresses and UUIDs: tables of texts
// that must pass and texts that must not.

#include "common/validators.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace hx_utils_common;

struct Verdict {
    std::string text;
    bool valid;
};

// Runs one validator over a table and names every text that it judged wrongly.
template <class Check>
void expect_verdicts(const char* name, Check check, const std::vector<Verdict>& cases)
{
    for (const Verdict& c : cases) {
        EXPECT_EQ(check(c.text), c.valid) << name << "(\"" << c.text << "\")";
    }
}

TEST(Validators, UnsignedNumbersOnlyInCanonicalDecimal)
{
    expect_verdicts("is_uint", is_uint,
                    {{"0", true},
                     {"7", true},
                     {"4294967296", true},
                     {"18446744073709551615", true},
                     {"", false},
                     {"007", false},
                     {"00", false},
                     {"-1", false},
                     {"-0", false},
                     {"+1", false},
                     {" 1", false},
                     {"1 ", false},
                     {"1a", false},
                     {"0x10", false},
                     {"1.0", false},
                     {"18446744073709551616", false},
                     {"99999999999999999999999", false}});
}

TEST(Validators, StringToUintStoresOnlyNumbersThatFit)
{
    struct Case {
        std::string text;
        bool ok;
        unsigned int value;  // the stored value, or the untouched one
    };
    const Case cases[] = {
        {"0", true, 0u},
        {"12", true, 12u},
        {"4294967295", true, 4294967295u},
        // Would be stored cut to 32 bits (as 0): refused, the value untouched.
        {"4294967296", false, 777u},
        {"18446744073709551615", false, 777u},
        {"012", false, 777u},
        {"-1", false, 777u},
        {"", false, 777u},
    };
    for (const Case& c : cases) {
        unsigned int value = 777u;
        EXPECT_EQ(string_to_uint(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(Validators, TimesOfDay)
{
    expect_verdicts("is_time", is_time,
                    {{"23:59:59", true},
                     {"00:00:00", true},
                     {"12:30:45", true},
                     // What follows the seconds is not examined.
                     {"12:30:45 and more", true},
                     {"24:00:00", false},
                     {"12:60:00", false},
                     {"12-00-00", false},
                     {"1:2:3", true},
                     // A text that ends before the seconds is no time.
                     {"12:00", false},
                     {"12:00:", false},
                     {"12", false},
                     {"ab:cd:ef", false},
                     {"", false}});
}

TEST(Validators, HostNames)
{
    const std::string label63(63, 'a');
    const std::string label64(64, 'a');
    expect_verdicts("is_hostname", is_hostname,
                    {{"a", true},
                     {"localhost", true},
                     {"front-1.kevra.example", true},
                     {"A1.b2.C3", true},
                     {"xn--80ak6aa92e.com", true},
                     {"1.2.3.4", true},
                     {label63 + ".example", true},
                     {"", false},
                     {"-front", false},
                     {"front-", false},
                     {"front..example", false},
                     {".front", false},
                     {"front.", false},
                     {"front_1", false},
                     {"front 1", false},
                     {"front\n", false},
                     {"front\nback", false},
                     {label64 + ".example", false}});
}

TEST(Validators, MailAddresses)
{
    expect_verdicts("is_email", is_email,
                    {{"user@example.com", true},
                     {"first.last+tag@mail.example.org", true},
                     {"a_b%c-d@x-y.io", true},
                     {"USER@EXAMPLE.COM", true},
                     {"user@example", false},
                     {"@example.com", false},
                     {"user@", false},
                     {"user@@example.com", false},
                     {"user@example.c", false},
                     {"user@example.abcdefg", false},
                     {"user name@example.com", false},
                     {"user@example.com ", false},
                     {"user@example.com\n", false},
                     {"", false}});
}

TEST(Validators, HttpsUrls)
{
    expect_verdicts("is_https_url_strict", is_https_url_strict,
                    {{"https://example.com", true},
                     {"example.com", true},
                     {"https://backup.example.org/path/to/file.txt", true},
                     {"https://media-1.example.net/a=b", true},
                     {"https://localhost", false},
                     {"https://example.COM", false},
                     {"https://example.c", false},
                     {"https://exa mple.com", false},
                     {"https://example.com/a b", false},
                     {"https://example.com/?q", false},
                     {"", false}});
}

TEST(Validators, HttpsIpAddresses)
{
    expect_verdicts("is_https_ip_strict", is_https_ip_strict,
                    {{"https://192.168.0.1", true},
                     {"https://255.255.255.255", true},
                     {"https://0.0.0.0", true},
                     {"https://2001:db8:0:0:0:0:2:1", true},
                     {"https://FE80:0:0:0:0:0:0:1", true},
                     {"192.168.0.1", false},
                     {"http://10.0.0.1", false},
                     {"https://256.1.1.1", false},
                     {"https://01.2.3.4", false},
                     {"https://1.2.3", false},
                     {"https://1.2.3.4/", false},
                     {"https://1.2.3.4:443", false},
                     {"https://2001:db8::1", false},
                     {"https://2001:db8:0:0:0:0:2:1:5", false},
                     {"https://12345:0:0:0:0:0:0:1", false},
                     {"", false}});
}

TEST(Validators, IpAddresses)
{
    expect_verdicts("is_ip_address", is_ip_address,
                    {{"127.0.0.1", true},
                     {"0.0.0.0", true},
                     {"255.255.255.255", true},
                     {"::", true},
                     {"::1", true},
                     {"2001:db8::1", true},
                     {"::ffff:192.0.2.1", true},
                     {"", false},
                     {"256.0.0.1", false},
                     {"1.2.3", false},
                     {"1.2.3.4/24", false},
                     {"1.2.3.4 ", false},
                     {"localhost", false},
                     {"::g", false},
                     {"1:2:3:4:5:6:7:8:9", false}});
    EXPECT_TRUE(is_ip_address(kelvomar_common::null_ip_addrs::NULL_IPV4_ADDR));
    EXPECT_TRUE(is_ip_address(kelvomar_common::null_ip_addrs::NULL_IPV6_ADDR));
}

TEST(Validators, UuidsOfVersionsOneToFive)
{
    expect_verdicts("is_valid_uuid", is_valid_uuid,
                    {{"123e4567-e89b-12d3-a456-426614174000", true},   // version 1
                     {"a3bb189e-8bf9-3888-9912-ace4e6543002", true},   // version 3
                     {"550E8400-E29B-41D4-A716-446655440000", true},   // version 4, upper case
                     {"886313e1-3b8a-5372-9b90-0c9aee199e5d", true},   // version 5
                     {"{123e4567-e89b-42d3-a456-426614174000}", true}, // braces
                     {"123e4567e89b42d3a456426614174000", true},       // no hyphens
                     {"00000000-0000-0000-0000-000000000000", false},  // version 0
                     {"1ec9414c-232a-6b00-b3c8-9e6bdeced846", false},  // version 6
                     {"017f22e2-79b0-7cc3-98c4-dc0c0c07398f", false},  // version 7
                     {"123e4567-e89b-12d3-a456-42661417400", false},   // a digit short
                     {"123e4567-e89b-12d3-a456-4266141740001", false}, // a digit too many
                     {"123e4567-e89b-12d3-a456-42661417400g", false},
                     {"{123e4567-e89b-12d3-a456-426614174000", false},
                     {"123e4567-e89b-12d3-a456-426614174000}", false},
                     {"", false}});
}

// Long texts are judged, not crashed on: a recursive matcher runs out of stack
// on a few hundred thousand characters.
TEST(Validators, VeryLongTextsDoNotCrash)
{
    const std::string local(300000, 'a');
    EXPECT_TRUE(is_email(local + "@example.com"));
    EXPECT_FALSE(is_email(local + "@example"));
    std::string labels;
    for (int i = 0; i < 20000; ++i) {
        labels += "ab.";
    }
    EXPECT_TRUE(is_hostname(labels + "example"));
    EXPECT_FALSE(is_hostname(labels + "-"));
    // Past the matcher's own limit a text is refused, still without a crash.
    std::string more_labels;
    for (int i = 0; i < 100000; ++i) {
        more_labels += "ab.";
    }
    EXPECT_FALSE(is_hostname(more_labels + "example"));
    EXPECT_TRUE(is_https_url_strict("https://example.com/" + std::string(300000, 'p')));
    EXPECT_FALSE(is_https_ip_strict("https://" + std::string(300000, '1')));
}

TEST(PasswordRule, TwelveBytesWithUpperPunctuationAndDigit)
{
    const std::string rule =
        "Password minimum length must be no shorter than 12 symbols and must contain at least 1 upper case "
        "letter, 1 special character, 1 digit";
    struct Case {
        std::string password;
        bool accepted;
    };
    const Case cases[] = {
        {"Abcdefghij!1", true},
        {"!1Zzzzzzzzzzzzzzzzzz", true},
        {"Abcdefghi!1", false},   // 11 characters
        {"abcdefghij!1", false},  // no upper-case letter
        {"Abcdefghijk1", false},  // no punctuation
        {"Abcdefghijk!", false},  // no digit
        {"Abcdefghij 1", false},  // a blank is no punctuation
        // Bytes above 0x7f are of no class in the classic locale: no upper-case letter.
        {"\xc3\x84" "bcdefghij!1", false},
        {"", false},
    };
    for (const Case& c : cases) {
        std::string message = "kept";
        EXPECT_EQ(check_password_complexity(c.password, message, false), c.accepted) << c.password;
        EXPECT_EQ(message, c.accepted ? std::string("kept") : rule) << c.password;
    }

    std::string message;
    EXPECT_FALSE(check_password_complexity("Abcdefghij!1", message, true));
    EXPECT_EQ(message, rule);
}

}  // namespace
