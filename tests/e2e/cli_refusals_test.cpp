// Refused command lines of the shipped program, run in the sandbox: exit 14,
// the reason and "wrong combination of options" in the program's log file,
// and nothing else created.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace fs = boost::filesystem;

namespace {

using kevra_test::read_file;

const char* const kLogFile = "/opt/kelvomar/log/kevra_template.log";
const char* const kRefusal = "int main(int, char**): wrong combination of options";

std::set<std::string> tree(const std::string& root)
{
    std::set<std::string> paths;
    if (!fs::exists(root)) {
        return paths;
    }
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        paths.insert(it->path().string());
    }
    return paths;
}

// The product's installation provides its log and configuration directories;
// the sandbox starts with an empty /opt/kelvomar, so each test lays them out.
void install_product_directories()
{
    fs::create_directories("/opt/kelvomar/log");
    fs::create_directories("/opt/kelvomar/etc");
}

// A fresh scratch directory below TMPDIR (the sandbox's own).
std::string scratch_dir()
{
    const char* tmp = std::getenv("TMPDIR");
    const fs::path dir = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / fs::unique_path("cli-%%%%%%");
    fs::create_directories(dir);
    return dir.string();
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> args;
    std::string reason;  // a text the log must hold besides the refusal; empty: none
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c)
{
    return out << c.name;
}

const char* const kOpDir = "@OPDIR@";  // a fresh directory below the sandbox's TMPDIR

const RefusalCase kRefusals[] = {
    {"TwoBackupTypes", {"-1", "-2"}, ""},
    {"BackupTypeWithVersion", {"-V", "-3"}, ""},
    {"TwoQueries", {"-D", "-a"}, ""},
    {"ListingAndBackup", {"-l", "-b", "tmpl"}, ""},
    {"BackupAndRestore", {"-b", "tmpl", "-r", "42", "-m", "srv"}, ""},
    {"FullWithReferenceSnapshot", {"-1", "-b", "tmpl", "-d", kOpDir, "-n", "a", "-s", "/x/base.snap"},
     "Reference snapshot cannot be defined for full backup."},
    {"ArchivingWithIncremental", {"-2", "-b", "tmpl", "-a"}, ""},
    {"TaskWithoutMediaServer", {"-r", "42", "-T", "t1"}, "You must define media-server before task ID"},
    {"TaskWithQuery", {"-t", "-T", "t1"}, "Operation 1 incompatible with task ID"},
    {"MediaServerWithAutonomous", {"-b", "tmpl", "-m", "srv", "--autonomous"},
     "Can't use media server with autonomous mode"},
    {"OperationDirectoryWithQuery", {"-V", "-d", kOpDir}, ""},
    {"GranularListWithoutRestore", {"-b", "tmpl", "-f", "files"},
     "The '-r' option must also be specified for granular restore"},
    {"EmptyResource", {"-b", ""}, "Resource is empty"},
    {"EmptyRecord", {"-r", ""}, "You must define restore object"},
    {"UnknownOption", {"-b", "tmpl", "--bogus"}, "unrecognised option '--bogus'"},
    {"MissingValue", {"-d"}, "the required argument for option '--tmp-operation-directory' is missing"},
    {"NonNumericCompress", {"-b", "tmpl", "-z", "best"}, "the argument ('best') for option '--compress' is invalid"},
    {"NegativeParallelism", {"-b", "tmpl", "--parallelism=-2"}, "the argument ('-2') for option 'parallelism' is invalid"},
    {"OptionTwice", {"-b", "a", "-d", kOpDir, "-d", kOpDir}, "cannot be specified more than once"},
    {"StrayArgument", {"-V", "stray"}, "too many positional options have been specified on the command line"},
    {"MalformedModuleParameter",
     {"-1", "-b", "tmpl", "-d", kOpDir, "-n", "a", "-m", "srv", "-T", "t1", "-e", "hxd_block_size:big"}, "stoi"},
    {"MalformedTemplateParameter",
     {"-1", "-b", "tmpl", "-d", kOpDir, "-n", "a", "-m", "srv", "-T", "t1", "-e", "dd_block_size:x"}, "stoi"},
    {"MissingResourceList", {"-B", "/nonexistent/kevra-list.json"},
     "resource list file does not exist: /nonexistent/kevra-list.json"},
    {"ResourceListNotJson", {"-B", "@NOT_JSON@"}, "json parser error"},
    // Texts that the option library would expand without end, and a list too deep to read.
    {"PlaceholderAsCompressValue", {"-b", "tmpl", "-z", "%value%"},
     "the argument ('%25value%25') for option '--compress' is invalid"},
    {"PlaceholderAsParallelism", {"-p", "%value%"}, "the argument ('%25value%25') for option '--parallelism' is invalid"},
    {"PlaceholderAsMemoryThreshold", {"-G", "%value%"},
     "the argument ('%25value%25') for option '--memory-threshold' is invalid"},
    {"PlaceholderInUnknownOption", {"--zz%option%="}, "for option '--zz%25option%25'"},
    {"PlaceholderInAmbiguousOption", {"--list=%canonical_option%"}, "option '--list=%25canonical_option%25' is ambiguous"},
    {"ResourceListTooDeep", {"-B", "@DEEP_JSON@"},
     "bool ResourceList::parse_json_file(const std::string&): json parser error: "},
    // Two "path" members in one object: only one would be backed up.
    {"ResourceListWithDuplicateKey", {"-B", "@DUPLICATE_JSON@"}, "/duplicate.json: duplicate key: path"},
};

class CliRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(CliRefusal, ExitsFourteenWithReasonAndCreatesNothing)
{
    KEVRA_REQUIRE_SANDBOX();
    const RefusalCase& c = GetParam();
    const std::string scratch = scratch_dir();
    const std::string not_json = scratch + "/not-json.json";
    const std::string deep_json = scratch + "/deep.json";
    const std::string op_dir = scratch + "/op";
    std::ofstream(not_json) << "{\"path\": ";
    std::ofstream(deep_json) << std::string(100000, '[');
    const std::string duplicate_json = scratch + "/duplicate.json";
    std::ofstream(duplicate_json) << R"([{"path": "web"}, {"path": "db", "path": "mail"}])";

    std::vector<std::string> argv = {kevra_test::build_path("kevra_template")};
    for (const auto& arg : c.args) {
        argv.push_back(arg == "@NOT_JSON@"         ? not_json
                       : arg == "@DEEP_JSON@"      ? deep_json
                       : arg == "@DUPLICATE_JSON@" ? duplicate_json
                       : arg == kOpDir             ? op_dir
                                                   : arg);
    }
    install_product_directories();
    const std::set<std::string> before = tree("/opt/kelvomar");
    const auto result = kevra_test::run_program(argv, kevra_test::ProgramLimits{10});

    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, 14);
    EXPECT_EQ(result.out, "");
    const std::string log = read_file(kLogFile);
    EXPECT_NE(log.find(kRefusal), std::string::npos) << log;
    if (!c.reason.empty()) {
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        // The reason comes before the refusal.
        EXPECT_LT(log.find(c.reason), log.find(kRefusal)) << log;
    }
    EXPECT_NE(result.err.find(kRefusal), std::string::npos) << result.err;

    // Only the log file and the logging configuration may appear.
    EXPECT_FALSE(fs::exists(op_dir));
    const std::set<std::string> allowed = {kLogFile, "/opt/kelvomar/etc/hx_logger.config"};
    for (const auto& path : tree("/opt/kelvomar")) {
        if (before.count(path) == 0) {
            EXPECT_EQ(allowed.count(path), 1u) << path << " was created by a refused run";
        }
    }
    fs::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(Combinations, CliRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

// The refusal is one coloured Error record with the time prefix.
TEST(CliRefusalRecord, ErrorRecordForm)
{
    KEVRA_REQUIRE_SANDBOX();
    install_product_directories();
    const auto result = kevra_test::run_program({kevra_test::build_path("kevra_template"), "-1", "-2"});
    ASSERT_EQ(result.exit_status, 14);
    const std::string log = read_file(kLogFile);
    const std::string record = std::string("\033[1;31mError: ") + kRefusal + " \033[0m\n";
    const auto at = log.find(record);
    ASSERT_NE(at, std::string::npos) << log;
    ASSERT_GE(at, 22u);
    const std::string prefix = log.substr(at - 22, 22);  // "[YYYY-MM-DD HH:MM:SS] "
    EXPECT_EQ(prefix.front(), '[') << prefix;
    EXPECT_EQ(prefix.substr(20), "] ") << prefix;
    EXPECT_EQ(result.err.find(record) == std::string::npos, false) << result.err;
}

// The log file is named after the program file, wherever it is installed.
TEST(CliRefusalRecord, LogFileNamedAfterTheProgramFile)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::vector<std::pair<std::string, std::string>> installs = {
        {"/usr/bin/kevra_template", "/opt/kelvomar/log/kevra_template.log"},
        {"/usr/sbin/kevra_renamed", "/opt/kelvomar/log/kevra_renamed.log"}};
    install_product_directories();
    for (const auto& install : installs) {
        fs::copy_file(kevra_test::build_path("kevra_template"), install.first, fs::copy_options::overwrite_existing);
        fs::remove(install.second);
        const auto result = kevra_test::run_program({install.first, "-t", "-o"});
        EXPECT_EQ(result.exit_status, 14) << install.first;
        EXPECT_NE(read_file(install.second).find(kRefusal), std::string::npos) << install.second;
    }
}

}  // namespace
