// The configuration upgrade: old, new and update files in a scratch folder, the
// file written over the new one, the records logged and the result.
#include <gtest/gtest.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem.hpp>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/config_file.h"
#include "tests/modules/module_test_support.h"

namespace {

namespace fs = boost::filesystem;
using module_test::LogCapture;
using module_test::TestModule;

// A module whose merge policy a test can set: names that may be left out, and
// old values rewritten by a prefix; every presence question is recorded.
class PolicyModule : public TestModule {
public:
    std::set<std::string> optional;
    std::string old_value_prefix;
    std::vector<std::string> asked;

    int get_config_option_presence_type(const std::string& name) override
    {
        asked.push_back(name);
        return optional.count(name) != 0 ? 1 : HxModuleUniversal::get_config_option_presence_type(name);
    }
    std::string resolve_config_option_merge_conflict(const std::string& name, const std::string& value) override
    {
        return old_value_prefix.empty() ? HxModuleUniversal::resolve_config_option_merge_conflict(name, value)
                                        : old_value_prefix + value;
    }
};

const char* const kMissing = nullptr;

struct UpgradeCase {
    const char* name;
    const char* list;         // configs_list; OLD, NEW and UPD stand for the three paths
    const char* old_text;     // kMissing: no such file
    const char* new_text;
    const char* update_text;
    std::set<std::string> optional;
    std::string prefix;       // old values are kept with this prefix
    bool result;
    std::string written;      // the new file afterwards (its original text when the upgrade fails)
    std::vector<std::string> logged;      // texts the log must hold, in this order (OLD, NEW, UPD as above;
                                          // the log writes each run of blanks as one)
    std::vector<std::string> not_logged;  // texts it must not hold
};

std::ostream& operator<<(std::ostream& out, const UpgradeCase& c)
{
    return out << c.name;
}

const char kShipped[] =
    "# Connection\n"
    "port 80\n"
    "host   localhost\n"
    "\n"
    "mode fast  lane\n"
    "token\n";

const char kShippedCommented[] =
    "# Description variables\n"
    "# Connection\n"
    "#port 80\n"
    "#host localhost\n"
    "#mode fast  lane\n"
    "#token \n"
    "#\n"
    "# Variables value\n";

const UpgradeCase kCases[] = {
    {"UpdateWinsOverOldAndOldOverNew", "OLD:NEW:UPD",
     "host oldhost\nport 8080\nobsolete yes\ntoken abc def\n", kShipped, "port 9090\nmode\n", {}, "", true,
     std::string(kShippedCommented) + "port 9090\nhost oldhost\nmode \ntoken abc def\n",
     {"UpgradeConfig options.configs_list: ", "The module is installed"},
     {"is mandatory"}},
    {"EmptyOldPartMergesNewAndUpdate", ":NEW:UPD", kMissing, kShipped, "token t1\n", {}, "", true,
     std::string(kShippedCommented) + "port \nhost \nmode \ntoken t1\n",
     {"Can't open file ''", "Old configuration file doesn't exists. Will use only new configuration file.",
      "Variable 'port' is mandatory and has no value. Module cannot be used",
      "Variable 'host' is mandatory", "Variable 'mode' is mandatory", "The module is installed"},
     {"Variable 'token'"}},
    {"MissingOldAndUpdateFiles", "OLD:NEW:UPD", kMissing, "a 1\n", kMissing, {}, "", true,
     "# Description variables\n#a 1\n#\n# Variables value\na \n",
     {"Can't open file 'OLD'", "Old configuration file OLD doesn't exists. Will use only new configuration file.",
      "Can't open file 'UPD'", "Update configuration file UPD doesn't exists",
      "Variable 'a' is mandatory and has no value"},
     {}},
    {"OptionalVariableWithoutValueIsLeftOut", "OLD:NEW:UPD", "host h0\n", kShipped, kMissing,
     {"port", "mode", "host"}, "", true,
     std::string(kShippedCommented) + "host h0\ntoken \n",
     {"Variable 'token' is mandatory"}, {"Variable 'port'", "Variable 'mode'", "Variable 'host'"}},
    {"OldValueThroughTheModulesResolution", "OLD:NEW:UPD", "port 8080\nhost h0\nmode m\ntoken x\n", kShipped,
     "host h1\n", {}, "resolved-", true,
     std::string(kShippedCommented) + "port resolved-8080\nhost h1\nmode resolved-m\ntoken resolved-x\n",
     {"The module is installed"}, {"is mandatory"}},
    {"TwoPaths", "OLD:NEW", "a 1\n", "a 2\n", kMissing, {}, "", false, "a 2\n",
     {"Incorrect configuration file format"}, {"The module is installed"}},
    {"FourPaths", "OLD:NEW:UPD:UPD", "a 1\n", "a 2\n", "a 3\n", {}, "", false, "a 2\n",
     {"Incorrect configuration file format"}, {"The module is installed"}},
    {"MissingNewFile", "OLD:NEW:UPD", "a 1\n", kMissing, "a 3\n", {}, "", false, "",
     {"Can't open file 'NEW'", "New configuration file NEW doesn't exists. Merge configuration files impossible."},
     {"The module is installed"}},
    {"EmptyNewPart", "OLD::UPD", "a 1\n", kMissing, kMissing, {}, "", false, "",
     {"Can't open file ''", "New configuration file doesn't exists. Merge configuration files impossible."},
     {"The module is installed"}},
};

class ConfigUpgrade : public ::testing::TestWithParam<UpgradeCase> {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-config-upgrade-%%%%%%%%");
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char* name) const { return (dir_ / name).string(); }

    static void write(const std::string& file, const char* text)
    {
        if (text != kMissing) {
            std::ofstream(file, std::ios::binary) << text;
        }
    }
    static std::string read(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string list(std::string pattern) const
    {
        boost::algorithm::replace_all(pattern, "OLD", path("old.conf"));
        boost::algorithm::replace_all(pattern, "NEW", path("new.conf"));
        boost::algorithm::replace_all(pattern, "UPD", path("update.conf"));
        return pattern;
    }
    std::size_t file_count() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
};

TEST_P(ConfigUpgrade, WritesTheMergedFileOverTheNewOne)
{
    const UpgradeCase& c = GetParam();
    write(path("old.conf"), c.old_text);
    write(path("new.conf"), c.new_text);
    write(path("update.conf"), c.update_text);
    const std::size_t files = file_count();

    PolicyModule module;
    module.optional = c.optional;
    module.old_value_prefix = c.prefix;
    module.opts().configs_list = list(c.list);
    LogCapture log;
    EXPECT_EQ(module.upgrade_config(), c.result);

    EXPECT_EQ(read(path("new.conf")), c.written);
    EXPECT_EQ(file_count(), files) << "the upgrade leaves no other file behind";
    std::size_t from = 0;
    for (const std::string& pattern : c.logged) {
        const std::string text = list(pattern);
        const std::size_t at = log.text().find(text, from);
        EXPECT_NE(at, std::string::npos) << "missing, or out of order: " << text << "\nlog:\n" << log.text();
        from = at == std::string::npos ? from : at + text.size();
    }
    for (const std::string& text : c.not_logged) {
        EXPECT_EQ(log.text().find(text), std::string::npos) << text << "\nlog:\n" << log.text();
    }
}

INSTANTIATE_TEST_SUITE_P(Merges, ConfigUpgrade, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<UpgradeCase>& info) { return info.param.name; });

// The presence question is asked for every variable of the new file, in its
// order, also for those that the update or the old file settle.
TEST_F(ConfigUpgrade, AsksThePresenceOfEveryNewVariableInOrder)
{
    write(path("old.conf"), "host h0\n");
    write(path("new.conf"), kShipped);
    write(path("update.conf"), "port 1\n");
    PolicyModule module;
    module.optional = {"mode", "token"};
    module.opts().configs_list = list("OLD:NEW:UPD");
    LogCapture log;
    ASSERT_TRUE(module.upgrade_config());
    EXPECT_EQ(module.asked, (std::vector<std::string>{"port", "host", "mode", "token"}));
}

// A second upgrade with the same files reads the first result as the new file:
// the description section then holds the first result, commented out.
TEST_F(ConfigUpgrade, SecondRunShowsThePreviousResultCommentedOut)
{
    write(path("old.conf"), "port 8080\n");
    write(path("new.conf"), "# shipped\nport 80\n");
    PolicyModule module;
    module.opts().configs_list = list("OLD:NEW:");
    LogCapture log;
    ASSERT_TRUE(module.upgrade_config());
    ASSERT_EQ(read(path("new.conf")), "# Description variables\n# shipped\n#port 80\n#\n# Variables value\nport 8080\n");
    ASSERT_TRUE(module.upgrade_config());
    EXPECT_EQ(read(path("new.conf")),
              "# Description variables\n"
              "# Description variables\n# shipped\n#port 80\n#\n# Variables value\n#port 8080\n"
              "#\n# Variables value\nport 8080\n");
}

// A new "file" that can be read but not replaced (a folder): the failed save is
// reported and the upgrade fails; nothing is written beside it.
TEST_F(ConfigUpgrade, FailedSaveIsReportedAsFailure)
{
    fs::create_directory(path("new.conf"));
    PolicyModule module;
    module.opts().configs_list = list(":NEW:");
    LogCapture log;
    EXPECT_FALSE(module.upgrade_config());
    EXPECT_NE(log.text().find("Can't save '" + path("new.conf") + "'"), std::string::npos) << log.text();
    EXPECT_EQ(log.text().find("The module is installed"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(path("new.conf")));
    EXPECT_EQ(file_count(), 1u);
}

// Operation 2 through run: 0 for a written file, 1 for a failed upgrade; the
// module's configuration is not loaded for it.
TEST_F(ConfigUpgrade, RunReturnsZeroOrOne)
{
    write(path("new.conf"), "a 1\n");
    struct {
        std::string list;
        unsigned int status;
    } const runs[] = {{list("OLD:NEW:UPD"), 0}, {list("OLD:NEW"), 1}, {list("OLD::UPD"), 1}};
    for (const auto& r : runs) {
        TestModule module;
        module.opts().operation = 2;
        module.opts().configs_list = r.list;
        LogCapture log;
        EXPECT_EQ(module.run(), r.status) << r.list;
        EXPECT_TRUE(module.calls.empty()) << r.list;
    }
}

}  // namespace
