// The product's main log file from /opt/kelvomar/etc/config.file.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <string>

#include "common/main_log_file.h"
#include "tests/support/sandbox_guard.h"

namespace {

const char kConfig[] = "/opt/kelvomar/etc/config.file";
const char kDefault[] = "/opt/kelvomar/log/Kelvomar.log";

TEST(MainLogFile, LastLogfileLineOfTheConfiguration)
{
    KEVRA_REQUIRE_SANDBOX();
    boost::filesystem::create_directories("/opt/kelvomar/etc");
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"logfile /var/log/kelvomar/main.log\n", "/var/log/kelvomar/main.log"},
        {"logfile\t/var/log/tabbed.log\n", "/var/log/tabbed.log"},
        {"  \t logfile  \t /var/log/spaced.log \t \n", "/var/log/spaced.log"},
        {"logfile /var/log/crlf.log\r\n", "/var/log/crlf.log"},
        {"logfile /var/log/first.log\nlogfile /var/log/second.log\n", "/var/log/second.log"},
        {"logfile /var/log/kept.log\n#logfile /var/log/commented.log\n", "/var/log/kept.log"},
        // Inner runs of white space shrink to one character.
        {"logfile /var/log/with   many \t blanks.log\n", "/var/log/with many blanks.log"},
        {"#logfile /var/log/commented.log\n", kDefault},
        {"logfiles /var/log/other-key.log\n", kDefault},
        {"logfile\n", kDefault},
        {"log_level debug\nname value\n", kDefault},
        {"", kDefault},
    };
    for (const Case& c : cases) {
        std::ofstream(kConfig, std::ios::trunc) << c.content;
        EXPECT_EQ(hx_utils_common::get_logfile(), c.expected) << c.content;
    }
}

TEST(MainLogFile, MissingConfigurationEndsTheProcess)
{
    KEVRA_REQUIRE_SANDBOX();
    boost::filesystem::remove(kConfig);
    EXPECT_EXIT(hx_utils_common::get_logfile(), testing::ExitedWithCode(1),
                "^Can't open config file: /opt/kelvomar/etc/config\\.file\n$");
}

}  // namespace
