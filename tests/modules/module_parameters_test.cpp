// The module-parameter string: which keys the framework consumes, which become
// special parameters, and how malformed items are handled.
#include <unistd.h>

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "tests/modules/module_test_support.h"

namespace {

using module_test::LogCapture;
using module_test::TestModule;
using Params = std::map<std::string, std::string>;

struct ParameterCase {
    const char* name;
    std::string params;
    Params special;       // the special parameters afterwards, compared whole
    std::string logged;   // a text the log must hold; empty: nothing may be logged
    std::function<void(const TestModule&)> check;
};

std::ostream& operator<<(std::ostream& out, const ParameterCase& c)
{
    return out << c.name;
}

// One script file per test process: CTest runs the cases of this table in
// parallel processes, each creating and removing its own.
const std::string kScript = (boost::filesystem::temp_directory_path() /
                             ("kevra-param-test-script-" + std::to_string(::getpid()) + ".sh"))
                                .string();

const ParameterCase kCases[] = {
    {"Empty", "", {}, "", [](const TestModule& m) {
         EXPECT_EQ(m.hash_algorithm(), "sha2");
         EXPECT_EQ(m.hash_length(), 256);
         EXPECT_EQ(m.block_size(), 16384);
         EXPECT_EQ(m.os_snapshot_size(), 10);
         EXPECT_TRUE(m.ignore_errors_snapshot());
         EXPECT_TRUE(m.hxfd_flags().empty());
     }},
    {"EngineSettings", "hxd_hash_algorithm:blake,hxd_hash_length:512,hxd_block_size:4096", {}, "",
     [](const TestModule& m) {
         EXPECT_EQ(m.hash_algorithm(), "blake");
         EXPECT_EQ(m.hash_length(), 512);
         EXPECT_EQ(m.block_size(), 4096);
     }},
    {"NumberStopsAtFirstNonDigit", "hxd_block_size: 8192kb", {}, "",
     [](const TestModule& m) { EXPECT_EQ(m.block_size(), 8192); }},
    {"LastEngineSettingWins", "hxd_block_size:1,hxd_block_size:2", {}, "",
     [](const TestModule& m) { EXPECT_EQ(m.block_size(), 2); }},
    {"EngineFlagsLastValueWins", "network_parallelism:2,worker_parallelism:3,network_parallelism:5", {}, "",
     [](const TestModule& m) {
         EXPECT_EQ(m.hxfd_flags(), (Params{{"network_parallelism", "5"}, {"worker_parallelism", "3"}}));
     }},
    {"AllEngineFlagNames", "enable_multithreading:1,enable_flexible_dedup:yes", {}, "", [](const TestModule& m) {
         EXPECT_EQ(m.hxfd_flags(), (Params{{"enable_flexible_dedup", "yes"}, {"enable_multithreading", "1"}}));
     }},
    {"RestoreAndListingFlags", "file_list:t,numeric_owner:true,last:true,tmp_catalog:/c,without_deployment_restore:yes",
     {}, "", [](const TestModule& m) {
         EXPECT_TRUE(m.file_list());
         EXPECT_TRUE(m.numeric_owner());
         EXPECT_TRUE(m.last());
         EXPECT_EQ(m.tmp_catalog(), "/c");
         EXPECT_TRUE(m.without_deployment_restore());
     }},
    {"FlagWordsAreExact", "file_list:yes,numeric_owner:T,last:t,without_deployment_restore:true", {}, "",
     [](const TestModule& m) {
         EXPECT_FALSE(m.file_list());
         EXPECT_FALSE(m.numeric_owner());
         EXPECT_FALSE(m.last());
         EXPECT_FALSE(m.without_deployment_restore());
     }},
    {"LaterFlagValueClears", "file_list:true,file_list:no", {}, "",
     [](const TestModule& m) { EXPECT_FALSE(m.file_list()); }},
    {"SnapshotSettings", "use_snapshot:t,ignore_errors_snapshot:false,snapshot_type:dattobd,snapshot_size:25", {}, "",
     [](const TestModule& m) {
         EXPECT_TRUE(m.is_OS_snapshot_using());
         EXPECT_FALSE(m.ignore_errors_snapshot());
         EXPECT_EQ(m.get_OS_snapshot_type(), "dattobd");
         EXPECT_EQ(m.os_snapshot_size(), 25);
     }},
    {"OtherSnapshotWordsLeaveDefaults", "use_snapshot:no,ignore_errors_snapshot:no", {}, "", [](const TestModule& m) {
         EXPECT_FALSE(m.is_OS_snapshot_using());
         EXPECT_TRUE(m.ignore_errors_snapshot());
     }},
    {"WrongSnapshotType", "snapshot_type:zfs", {}, "Wrong value of snapshot_type, ignore...",
     [](const TestModule& m) { EXPECT_EQ(m.get_OS_snapshot_type(), ""); }},
    {"LvmSnapshotSize", "lvm_snapshot_size:20", {}, "", [](const TestModule& m) {
         EXPECT_TRUE(m.is_OS_snapshot_using());
         EXPECT_EQ(m.get_OS_snapshot_type(), "lvm");
         EXPECT_EQ(m.os_snapshot_size(), 20);
     }},
    {"SnapshotSizeZero", "snapshot_size:0", {}, "Wrong OS snaphot size: 0, set to default value: 10%",
     [](const TestModule& m) { EXPECT_EQ(m.os_snapshot_size(), 10); }},
    {"SnapshotSizeNegative", "snapshot_size:25,snapshot_size:-3", {}, "Wrong OS snaphot size: -3",
     [](const TestModule& m) { EXPECT_EQ(m.os_snapshot_size(), 10); }},
    {"SnapshotSizeNotNumber", "snapshot_size:25,lvm_snapshot_size:big,x:1", {{"x", "1"}},
     "void HxModuleUniversal::parce_param_string(): can't convert big to int", [](const TestModule& m) {
         EXPECT_EQ(m.os_snapshot_size(), 25);
         EXPECT_FALSE(m.is_OS_snapshot_using());
         EXPECT_EQ(m.get_OS_snapshot_type(), "");
     }},
    {"ScriptThatExists", "script_before_snapshot:" + kScript, {{"script_before_snapshot", kScript}}, "",
     [](const TestModule& m) { EXPECT_EQ(m.script_before_snapshot(), kScript); }},
    {"ScriptThatIsMissing", "script_after_snapshot:/nonexistent/s.sh,script_error_snapshot:/tmp",
     {{"script_after_snapshot", "/nonexistent/s.sh"}, {"script_error_snapshot", "/tmp"}}, "",
     [](const TestModule& m) {
         EXPECT_EQ(m.script_after_snapshot(), "");
         EXPECT_EQ(m.script_error_snapshot(), "");
     }},
    {"SpecialKeepsFirstValue", "mine:1,mine:2", {{"mine", "1"}}, "", nullptr},
    {"ValueKeepsLaterColons", "url:http://h:8080/x", {{"url", "http://h:8080/x"}}, "", nullptr},
    {"NothingTrimmedCaseSensitive", " Key : v ,LAST:true", {{" Key ", " v "}, {"LAST", "true"}}, "",
     [](const TestModule& m) { EXPECT_FALSE(m.last()); }},
    {"EmptyItemsSkippedSilently", "a:1,,b:2,", {{"a", "1"}, {"b", "2"}}, "", nullptr},
    {"ItemWithoutColon", "a:1,broken,b:2", {{"a", "1"}, {"b", "2"}},
     "void HxModuleUniversal::parce_param_string(): Separator ':' is not found in string: broken", nullptr},
    {"ColonAsLastCharacter", "a:", {}, "Separator ':' is not found in string: a:", nullptr},
    {"LeadingColonGivesEmptyKey", ":v", {{"", "v"}}, "", nullptr},
};

class ModuleParameters : public ::testing::TestWithParam<ParameterCase> {
protected:
    static void SetUpTestSuite() { std::ofstream(kScript) << "#!/bin/sh\n"; }
    static void TearDownTestSuite() { boost::filesystem::remove(kScript); }
};

TEST_P(ModuleParameters, SplitIntoSettingsAndSpecialParameters)
{
    const ParameterCase& c = GetParam();
    LogCapture log;
    TestModule module;
    module.opts().module_params = c.params;
    module.parce_param_string();

    EXPECT_EQ(module.special_params(), c.special);
    EXPECT_TRUE(log.logged_as_expected(c.logged));
    // The module reads its own parameters once the string is split, every time.
    EXPECT_EQ(module.calls, std::vector<std::string>{"load_custom_module_parameters"});
    if (c.check) {
        c.check(module);
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, ModuleParameters, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ParameterCase>& info) { return info.param.name; });

// Malformed numeric engine settings end the parsing with an exception, which
// the command-line parser turns into a refusal.
TEST(ModuleParametersMalformed, NumericEngineSettingThrows)
{
    for (const char* params : {"hxd_hash_length:abc", "hxd_block_size:99999999999", "x:1,hxd_block_size:-"}) {
        LogCapture log;
        TestModule module;
        module.opts().module_params = params;
        EXPECT_ANY_THROW(module.parce_param_string()) << params;
        EXPECT_TRUE(module.calls.empty()) << params;
    }
}

TEST(SpecialParameters, FindCopiesOnlyPresentValues)
{
    LogCapture log;
    TestModule module;
    module.opts().module_params = "name:web,other:x";
    module.parce_param_string();

    std::string value = "unchanged";
    EXPECT_TRUE(module.find_special_param("name", value));
    EXPECT_EQ(value, "web");
    value = "unchanged";
    EXPECT_FALSE(module.find_special_param("absent", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_FALSE(module.find_special_param("Name", value));
    EXPECT_TRUE(module.has_special_param_passed_from_client("other"));
    EXPECT_FALSE(module.has_special_param_passed_from_client("absent"));
    // Consumed keys are not special parameters.
    module.opts().module_params = "hxd_block_size:1";
    TestModule consumed(module.options());
    consumed.parce_param_string();
    EXPECT_FALSE(consumed.has_special_param_passed_from_client("hxd_block_size"));
}

TEST(SpecialRecords, NothingToAppendSucceedsWithoutRunningAnything)
{
    LogCapture log;
    TestModule module;
    EXPECT_TRUE(module.append_some_special());
    EXPECT_EQ(log.text(), "");
}

}  // namespace
