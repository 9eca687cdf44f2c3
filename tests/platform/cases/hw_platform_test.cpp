// The hardware platform query over a dmidecode written into /usr/sbin for the test.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "common/hw_platform.h"
#include "common/hx_logger.h"
#include "common/scoped_env.h"
#include "tests/support/log_capture.h"
#include "tests/support/sandbox_guard.h"

namespace {

const char kDmidecode[] = "/usr/sbin/dmidecode";

class HwPlatform : public testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!kevra_test::in_sandbox(why)) {
            return;
        }
        const char* tmp = std::getenv("TMPDIR");
        log_.emplace(std::string(tmp ? tmp : "/tmp") + "/hw-platform-hx_logger.config",
                     kevra_test::CaptureLevel::unchanged);
        // Only the sandbox's own tool folders: no dmidecode but the one written here.
        path_ = std::make_unique<EnvironmentVariable>("PATH", "/usr/sbin:/usr/bin:/bin");
        std::remove("/usr/bin/dmidecode");
        std::remove(kDmidecode);
    }
    void TearDown() override { log_.reset(); }

    // A dmidecode that records its arguments and prints `output`.
    void install_dmidecode(const std::string& output)
    {
        const std::string args = std::string(std::getenv("KEVRA_SANDBOX_ROOT")) + "/dmidecode-args";
        std::ofstream(kDmidecode) << "#!/bin/sh\necho \"$@\" > " << args << "\ncat <<'OUT'\n" << output << "OUT\n";
        ::chmod(kDmidecode, 0755);
        args_file_ = args;
    }
    std::string recorded_args() const
    {
        std::ifstream in(args_file_);
        std::string line;
        std::getline(in, line);
        return line;
    }

    std::optional<kevra_test::LogCapture> log_;
    std::unique_ptr<EnvironmentVariable> path_;
    std::string args_file_;
};

const char kSystemInformation[] =
    "# dmidecode 3.4\n"
    "Getting SMBIOS data from sysfs.\n"
    "SMBIOS 2.8 present.\n"
    "\n"
    "Handle 0x0100, DMI type 1, 27 bytes\n"
    "System Information\n"
    "\tManufacturer: QEMU\n"
    "\tProduct Name: Standard PC (Q35 + ICH9, 2009)\n"
    "\tVersion: pc-q35-7.2\n"
    "\tSerial Number: Not Specified\n"
    "\tWake-up Type: Power Switch\n"
    "\tFamily: Not Specified\n";

TEST_F(HwPlatform, ManufacturerAndProductLinesAreAppended)
{
    KEVRA_REQUIRE_SANDBOX();
    install_dmidecode(kSystemInformation);
    std::string output = "kept:";
    EXPECT_TRUE(hx_utils_common::get_hw_platform(output));
    EXPECT_EQ(output, "kept:\tManufacturer: QEMU\n\tProduct Name: Standard PC (Q35 + ICH9, 2009)\n");
    EXPECT_EQ(recorded_args(), "-t system");
    EXPECT_EQ(log_->text(), "");
}

TEST_F(HwPlatform, FailuresAreLoggedWithCommandAndOutput)
{
    KEVRA_REQUIRE_SANDBOX();
    struct Case {
        const char* what;
        bool installed;
        std::string dmidecode_output;
        std::string output;
    };
    const Case cases[] = {
        // The shell's complaint goes to standard error: only grep's is merged.
        {"no dmidecode", false, "", ""},
        {"no system information", true, "# No SMBIOS nor DMI entry point found, sorry.\n", ""},
    };
    for (const Case& c : cases) {
        std::remove(kDmidecode);
        if (c.installed) {
            install_dmidecode(c.dmidecode_output);
        }
        log_->clear();
        std::string output;
        EXPECT_FALSE(hx_utils_common::get_hw_platform(output)) << c.what;
        EXPECT_EQ(output, c.output) << c.what;
        EXPECT_NE(log_->text().find("bool hx_utils_common::get_hw_platform(std::string&): the following command produced "
                                    "an error: dmidecode -t system|grep 'Manufacturer\\|Product'"),
                  std::string::npos)
            << c.what << ": " << log_->text();
        EXPECT_NE(log_->text().find("command output: " + output), std::string::npos) << c.what << ": " << log_->text();
    }
}

}  // namespace
