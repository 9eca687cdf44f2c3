// The configuration upgrade of the shipped program (option update-config), run
// in the sandbox as the installer runs it: the merged file written over the
// shipped one, the exit status and the program's log.
#include <gtest/gtest.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace {

namespace fs = boost::filesystem;

const char kLogFile[] = "/opt/kelvomar/log/kevra_template.log";

struct UpgradeRun {
    const char* name;
    std::string option;   // the option's name as given
    std::string list;     // OLD, NEW and UPD stand for the three files
    bool old_file;        // the old file exists
    bool update_file;     // the update file exists
    int status;
    std::string written;  // the shipped file afterwards
    std::vector<std::string> logged;
};

std::ostream& operator<<(std::ostream& out, const UpgradeRun& c)
{
    return out << c.name;
}

const char kShipped[] = "# kevra_template settings\nwait_seconds 30\ndatastore default\n";

const UpgradeRun kRuns[] = {
    {"AllThreeFiles", "--update-config", "OLD:NEW:UPD", true, true, 0,
     "# Description variables\n# kevra_template settings\n#wait_seconds 30\n#datastore default\n#\n"
     "# Variables value\nwait_seconds 45\ndatastore fast ssd\n",
     {"Info: UpgradeConfig options.configs_list: OLD:NEW:UPD", "Info: The module is installed"}},
    {"ShortOptionWithoutOldAndUpdate", "-u", ":NEW:", false, false, 0,
     "# Description variables\n# kevra_template settings\n#wait_seconds 30\n#datastore default\n#\n"
     "# Variables value\nwait_seconds \ndatastore \n",
     {"Old configuration file doesn't exists. Will use only new configuration file.",
      "Variable 'wait_seconds' is mandatory and has no value. Module cannot be used",
      "Info: The module is installed"}},
    {"TwoPaths", "--update-config", "OLD:NEW", true, false, 1, kShipped,
     {"Incorrect configuration file format"}},
    {"MissingShippedFile", "--update-config", "OLD:NEW.missing:UPD", true, true, 1, kShipped,
     {"New configuration file NEW.missing doesn't exists. Merge configuration files impossible."}},
};

class ProgramConfigUpgrade : public ::testing::TestWithParam<UpgradeRun> {};

TEST_P(ProgramConfigUpgrade, MergesOverTheShippedFile)
{
    KEVRA_REQUIRE_SANDBOX();
    const UpgradeRun& c = GetParam();
    fs::create_directories("/opt/kelvomar/log");
    const std::string dir = kevra_test::scratch_dir("config-upgrade");
    const std::string old_path = dir + "/kevra_template.config.old";
    const std::string new_path = dir + "/kevra_template.config";
    const std::string update_path = dir + "/kevra_template.config.update";
    if (c.old_file)
        kevra_test::write_file(old_path, "datastore slow\nwait_seconds 45\nretired yes\n");
    kevra_test::write_file(new_path, kShipped);
    if (c.update_file)
        kevra_test::write_file(update_path, "datastore fast ssd\n");
    auto fill = [&](std::string text) {
        boost::algorithm::replace_all(text, "OLD", old_path);
        boost::algorithm::replace_all(text, "NEW", new_path);
        boost::algorithm::replace_all(text, "UPD", update_path);
        return text;
    };

    const auto result = kevra_test::run_program({kevra_test::build_path("kevra_template"), c.option, fill(c.list)});

    EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
    EXPECT_EQ(kevra_test::read_file(new_path), c.written);
    const std::string log = kevra_test::read_file(kLogFile);
    for (const std::string& text : c.logged)
        EXPECT_NE(log.find(fill(text)), std::string::npos) << fill(text) << "\nlog:\n" << log;
    EXPECT_EQ(log.find("The module is installed") != std::string::npos, c.status == 0) << log;
}

INSTANTIATE_TEST_SUITE_P(Installer, ProgramConfigUpgrade, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<UpgradeRun>& info) { return info.param.name; });

}  // namespace
