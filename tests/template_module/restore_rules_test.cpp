// The image-create command's driver option by platform version.
#include <gtest/gtest.h>

#include <string>

#include "template_module/restore_rules.h"

namespace {

using kevra_template::takes_driver_option;
using kevra_template::version_major_number;

TEST(DriverOption, KnownVersionsKeepTheirRuleAndUnknownOnesFollowTheirMajorNumber)
{
    const struct {
        const char* version;
        bool known;
        bool expected;
    } cases[] = {
        // Known versions: only those whose tools refuse the option go without it.
        {"Kevra 2.9", true, false}, {"3.0", true, false},      {"3.3.1", true, false},
        {"Kevra 2.7", true, true},  {"2.12", true, true},      {"Kevra 2.4-rc3", true, true},
        // Unknown versions: the option only before major version 3.
        {"3.4", false, false},      {"4.0", false, false},     {"Kevra 3.5", false, false},
        {"Kevra 2.8", false, true}, {"2.13", false, true},     {"1.0", false, true},
        {"", false, false},         {"unknown", false, false}, {"123456789012", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(takes_driver_option("qcow2", c.version, c.known), c.expected) << '"' << c.version << '"';
        EXPECT_FALSE(takes_driver_option("", c.version, c.known)) << "an empty driver is never given";
    }
}

TEST(DriverOption, MajorNumberIsTheFirstRunOfDigits)
{
    EXPECT_EQ(version_major_number("3.4"), 3);
    EXPECT_EQ(version_major_number("Kevra 2.7 RC2"), 2);
    EXPECT_EQ(version_major_number("10.1"), 10);
    EXPECT_EQ(version_major_number("Kevra"), -1);
    EXPECT_EQ(version_major_number(""), -1);
}

}  // namespace
