// The host check of the shipped program (-t) in the sandbox: the operating
// system's name, the platform's version file and its tools decide the exit
// status, and the log tells why.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "tests/e2e/backup_e2e_support.h"

namespace {

using kevra_e2e::contains;

struct HostCase {
    const char* name;
    const char* pretty_name;    // PRETTY_NAME of /etc/os-release; null: as installed
    const char* version;        // content of /etc/kevra_version; null: as installed
    bool remove_version_file;
    bool remove_platform_tool;  // /usr/bin/onevm
    int status;
    std::vector<std::string> records;  // pieces of the log, in any order
    std::vector<std::string> absent;   // pieces that must not be logged
};

std::ostream& operator<<(std::ostream& out, const HostCase& c)
{
    return out << c.name;
}

const char* const kCheck = "virtual int HxModuleKevraTemplate::check_client(const bool&)";

const HostCase kHosts[] = {
    {"Installed", nullptr, nullptr, false, false, 0, {"Info: OS: Nimra Linux", "Info: Kevra version: 3.3.1"},
     {"Warning", "Error"}},
    {"KalverstRelease", "Nimra Linux (Kalverst 1.6)", nullptr, false, false, 0,
     {"Info: OS: Nimra Linux (Kalverst 1.6)"}, {"Error"}},
    {"BlanksCompressed", "  Nimra   Linux ", nullptr, false, false, 0, {"Info: OS: Nimra Linux"}, {"Error"}},
    {"OtherRelease", "Nimra Linux 1.7", nullptr, false, false, 2,
     {std::string(kCheck) + " :unsupported OS: Nimra Linux 1.7"}, {"Kevra version"}},
    {"TabIsNoBlank", "Nimra\tLinux", nullptr, false, false, 2, {" :unsupported OS: Nimra\\tLinux"}, {}},
    {"NameIsCaseSensitive", "nimra linux", nullptr, false, false, 2, {" :unsupported OS: nimra linux"}, {}},
    {"OldKnownVersion", nullptr, "Kevra 2.6 RC2\n", false, false, 0, {"Info: Kevra version: Kevra 2.6 RC2"},
     {"Warning"}},
    {"TrailingBlankMakesTheVersionUnknown", nullptr, "3.3.1 ", false, false, 0,
     {std::string(kCheck) + ": unexpected Kevra version: 3.3.1 "}, {"Error"}},
    {"UnknownVersionIsOnlyWarned", nullptr, "4.0\n", false, false, 0, {": unexpected Kevra version: 4.0"},
     {"Error"}},
    {"NoVersionFile", nullptr, nullptr, true, false, 2,
     {std::string(kCheck) + ": can't find installed Kevra on this host"}, {}},
    {"NoPlatformTools", nullptr, nullptr, false, true, 2,
     {"Info: Kevra version: 3.3.1",
      std::string(kCheck) + ": this host doesn't look like a Kevra front host. Use this module only on the Kevra "
                            "front host"},
     {}},
};

class HostCheck : public kevra_e2e::TemplateBackupTest, public ::testing::WithParamInterface<HostCase> {};

TEST_P(HostCheck, ExitStatusAndRecords)
{
    const HostCase& c = GetParam();
    if (c.pretty_name != nullptr) {
        platform_.fixture({"system", "--pretty-name", c.pretty_name});
    }
    if (c.version != nullptr) {
        platform_.fixture({"system", "--kevra-version", c.version});
    }
    if (c.remove_version_file) {
        boost::filesystem::remove("/etc/kevra_version");
    }
    if (c.remove_platform_tool) {
        platform_.fixture({"system", "--no-onevm"});
    }

    const auto result = run_module({"-t"});
    EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
    const std::string text = log();
    for (const std::string& record : c.records) {
        EXPECT_TRUE(contains(text, record)) << "missing: " << record << "\nlog:\n" << text;
    }
    for (const std::string& piece : c.absent) {
        EXPECT_FALSE(contains(text, piece)) << "unexpected: " << piece << "\nlog:\n" << text;
    }
    if (c.status != 0) {
        EXPECT_TRUE(contains(result.err, "Error: ")) << "the reason also reaches standard error";
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostCheck, ::testing::ValuesIn(kHosts),
                         [](const ::testing::TestParamInfo<HostCase>& info) { return info.param.name; });

}  // namespace
