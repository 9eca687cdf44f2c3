// Lock file names and the empty lock: what every process of a module must
// compute alike, and what a lock that names nothing must not touch.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <string>

#include "crypto/keyed_hash.h"
#include "modules/module_resource_lock.h"
#include "tests/modules/module_test_support.h"

namespace {

using kelvomar::module::resource_file_lock;
using kelvomar::module::resource_lock_file_handler;

struct NameCase {
    const char* module;
    const char* resource;
};

class LockFileName : public ::testing::TestWithParam<NameCase> {};

TEST_P(LockFileName, IsThePrefixAndTheLastFourDigestBytesInHexadecimal)
{
    const NameCase& c = GetParam();
    const std::string name = resource_lock_file_handler::make_lock_file_name(c.module, c.resource);
    const auto digest =
        kelvomar::hash::sha::make_hash<std::array<unsigned char, 32>>(std::string(c.module) + c.resource);
    static const char* const digits = "0123456789abcdef";
    std::string expected = "Kelvomar_MOD_mutex_";
    for (int byte = 31; byte >= 28; --byte) {
        expected += digits[digest[byte] >> 4];
        expected += digits[digest[byte] & 0xf];
    }
    EXPECT_EQ(name, expected);
    EXPECT_EQ(resource_lock_file_handler::make_lock_file_path(name).string(),
              "/opt/kelvomar/var/kelvomar-modules/" + expected);
}

INSTANTIATE_TEST_SUITE_P(Pairs, LockFileName,
                         ::testing::Values(NameCase{"kevra_template", "42"}, NameCase{"kevra_template", ""},
                                           NameCase{"", "web server"}, NameCase{"kevra_vm", "a\"b/c"}));

TEST(LockFileNames, DifferForTheSameResourceUnderAnotherModule)
{
    EXPECT_NE(resource_lock_file_handler::make_lock_file_name("kevra_template", "42"),
              resource_lock_file_handler::make_lock_file_name("kevra_vm", "42"));
    EXPECT_EQ(resource_lock_file_handler::make_lock_file_name("kevra_template", "42"),
              resource_lock_file_handler::make_lock_file_name("kevra_template", "42"));
}

TEST(LockFileNames, DebugRecordQuotesBothNames)
{
    module_test::LogCapture log;
    const std::string hash = kelvomar::hash::to_string(
        kelvomar::hash::sha::make_hash<std::array<unsigned char, 32>>(std::string("mod") + "r\"1"));
    resource_lock_file_handler::make_lock_file_name("mod", "r\"1");
    EXPECT_NE(log.text().find("module \"mod\" resource \"r\\\"1\" hash string is " + hash +
                              ". will be truncated to 8 characters at begin."),
              std::string::npos)
        << log.text();
}

TEST(EmptyLock, TouchesNoFileAndWritesNoRecord)
{
    module_test::LogCapture log;
    {
        resource_file_lock lock;
        EXPECT_FALSE(lock.try_lock());
        lock.unlock();
        EXPECT_TRUE(lock.remove());
        EXPECT_TRUE(lock.resource_lock_file_path().empty());
        resource_file_lock moved(std::move(lock));
        EXPECT_TRUE(moved.module_name().empty());
    }
    EXPECT_EQ(log.text(), "");
}

}  // namespace
