// The hardware platform query over a dmidecode written into /usr/sbin for the test.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "common/hw_platform.h"
#include "common/hx_logger.h"
#include "common/scoped_env.h"
#include "tests/support/sandbox_guard.h"

namespace {

class MemoryLogger : public HxDestination::HxLogger {
public:
    explicit MemoryLogger(std::shared_ptr<std::string> text) : text_(std::move(text)) {}

protected:
    int write_log_impl(const std::string& text) override
    {
        *text_ += text;
        return 0;
    }

private:
    std::shared_ptr<std::string> text_;
};

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
        HxLogStream::set_config_path(std::string(tmp ? tmp : "/tmp") + "/hw-platform-hx_logger.config");
        HxLogStream::set_default_loggers(std::make_unique<MemoryLogger>(log_));
        HxLogStream(HxLogLvl::Debug) << "capture starts" << std::endl;
        log_->clear();
        // Only the sandbox's own tool folders: no dmidecode but the one written here.
        path_ = std::make_unique<EnvironmentVariable>("PATH", "/usr/sbin:/usr/bin:/bin");
        std::remove("/usr/bin/dmidecode");
        std::remove(kDmidecode);
    }
    void TearDown() override { HxLogStream::set_default_loggers(); }

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

    std::shared_ptr<std::string> log_ = std::make_shared<std::string>();
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
    EXPECT_EQ(*log_, "");
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
        EXPECT_NE(log_->find("bool hx_utils_common::get_hw_platform(std::string&): the following command produced "
                             "an error: dmidecode -t system|grep 'Manufacturer\\|Product'"),
                  std::string::npos)
            << c.what << ": " << *log_;
        EXPECT_NE(log_->find("command output: " + output), std::string::npos) << c.what << ": " << *log_;
    }
}

}  // namespace
