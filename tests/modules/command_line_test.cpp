// The command line: which operation each combination selects, which fields it
// fills, and which combinations are refused with which message.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/modules/module_test_support.h"
#include "tests/support/module_usage.h"

namespace {

using module_test::Argv;
using module_test::LogCapture;
using module_test::TestModule;
using Check = std::function<void(const HxModuleOptions&)>;

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;
    bool usable;
    int operation;
    std::string logged;   // a text the log must hold; empty: nothing may be logged
    std::string printed;  // standard output; compared whole
    Check check;
};

std::ostream& operator<<(std::ostream& out, const CommandLineCase& c)
{
    return out << c.name;
}

const std::string kCwd = boost::filesystem::current_path().string();

const CommandLineCase kCases[] = {
    // Queries, each alone.
    {"Version", {"-V"}, true, 14, "", "", nullptr},
    {"VersionLong", {"--version"}, true, 14, "", "", nullptr},
    {"UpdateConfig", {"-u", "a.conf::c.conf"}, true, 2, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.configs_list, "a.conf::c.conf"); }},
    {"ListHeaders", {"-c"}, true, 5, "", "", nullptr},
    {"ListWithHeaders", {"-L"}, true, 4, "", "", nullptr},
    {"ListAll", {"-l"}, true, 3, "", "", nullptr},
    {"CheckClient", {"-t"}, true, 1, "", "", nullptr},
    {"FullQuery", {"-1"}, true, 6, "", "", [](const HxModuleOptions& o) { EXPECT_EQ(o.backup_type, 1); }},
    {"IncrQuery", {"-2"}, true, 6, "", "", [](const HxModuleOptions& o) { EXPECT_EQ(o.backup_type, 2); }},
    {"DiffQuery", {"--diff"}, true, 6, "", "", [](const HxModuleOptions& o) { EXPECT_EQ(o.backup_type, 3); }},
    {"DedupQuery", {"-D"}, true, 7, "", "", nullptr},
    {"ArchivingQuery", {"-a"}, true, 8, "", "", [](const HxModuleOptions& o) { EXPECT_FALSE(o.archiving_mode); }},
    {"AutonomousQuery", {"--autonomous"}, true, 16, "", "",
     [](const HxModuleOptions& o) { EXPECT_FALSE(o.autonomous); }},
    {"BackupOptions", {"--show-backup-options"}, true, 15, "", "", nullptr},
    {"ModuleProperties", {"--show-module-properties"}, true, 17, "", "", nullptr},
    {"RestoreParameters", {"-o"}, true, 18, "", "", nullptr},
    {"DeleteFromStorage", {"--delete_from_client_defined_storage", "{}", "-T", "t7"}, true, 19, "", "",
     [](const HxModuleOptions& o) {
         EXPECT_EQ(o.delete_from_client_defined_storage, "{}");
         EXPECT_EQ(o.task_id, "t7");
     }},
    {"VerifyWithTaskAlone", {"--verify_in_client_defined_storage", "-T", "t7"}, true, 20, "", "", nullptr},
    {"NeedEsign", {"--need_esign", "--verify_in_client_defined_storage"}, true, 20, "", "",
     [](const HxModuleOptions& o) { EXPECT_TRUE(o.need_esign); }},

    // Backups and their settings.
    {"FullBackupServerMode",
     {"-1", "-b", "tmpl", "-d", "/tmp/op", "-n", "arch", "-m", "srv", "-T", "task", "-z", "3", "-p", "4", "-j", "-C",
      "kuz", "-k", "/k", "-G", "512"},
     true, 9, "", "", [](const HxModuleOptions& o) {
         EXPECT_EQ(o.backup_type, 1);
         EXPECT_EQ(o.resource, "tmpl");
         EXPECT_EQ(o.tmp_operation_directory, "/tmp/op");
         EXPECT_EQ(o.archive_name, "arch");
         EXPECT_EQ(o.media_server, "srv");
         EXPECT_EQ(o.task_id, "task");
         EXPECT_EQ(o.compress, 3);
         EXPECT_EQ(o.parallelism, 4u);
         EXPECT_TRUE(o.local_restrictions);
         EXPECT_EQ(o.crypto, "kuz");
         EXPECT_EQ(o.key_file, "/k");
         EXPECT_EQ(o.memory_threshold, 512u);
         EXPECT_FALSE(o.autonomous);
     }},
    {"IncrementalAutonomousWithReference",
     {"-2", "-b", "tmpl", "-d", "/tmp/op", "-n", "arch", "--autonomous", "-s", "/ref/base.snap"}, true, 9, "", "",
     [](const HxModuleOptions& o) {
         EXPECT_EQ(o.backup_type, 2);
         EXPECT_TRUE(o.autonomous);
         EXPECT_EQ(o.reference_snapshot, "/ref/base.snap");
     }},
    {"ParallelismZeroKept", {"-b", "tmpl", "-p", "0"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.parallelism, 0u); }},
    {"UniqueAbbreviation", {"--tmp-op", "/tmp/op", "--backup", "tmpl"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.tmp_operation_directory, "/tmp/op"); }},
    {"BackupWithoutType", {"-b", "tmpl"}, true, 9, "", "", [](const HxModuleOptions& o) { EXPECT_EQ(o.backup_type, 1); }},
    {"OptionOrderDoesNotMatter", {"-n", "arch", "-d", "/tmp/op", "-b", "tmpl", "-3"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.backup_type, 3); }},
    {"RelativeOperationDirectoryMadeAbsolute", {"-b", "tmpl", "-d", "rel/op"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.tmp_operation_directory, kCwd + "/rel/op"); }},
    {"DotOperationDirectoryMadeAbsolute", {"-b", "tmpl", "-d", "."}, true, 9, "", "",
     [](const HxModuleOptions& o) {
         EXPECT_TRUE(boost::filesystem::path(o.tmp_operation_directory).is_absolute());
         EXPECT_TRUE(boost::filesystem::equivalent(o.tmp_operation_directory, kCwd));
     }},
    {"EmptyOperationDirectoryStaysEmpty", {"-b", "tmpl", "-d", ""}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.tmp_operation_directory, ""); }},
    {"CompressOutOfRangeBecomesOne", {"-b", "tmpl", "-z", "7"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.compress, 1); }},
    {"CompressZeroBecomesOne", {"-b", "tmpl", "-z", "0"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.compress, 1); }},
    {"ArchivingWithFullBackup", {"-b", "tmpl", "-a"}, true, 9, "",
     "Archiving mode: the module '/opt/kelvomar/bin/test_module' will delete the resource after the task is "
     "completed\n",
     [](const HxModuleOptions& o) { EXPECT_TRUE(o.archiving_mode); }},
    {"SignedBackup", {"-b", "tmpl", "--dgst"}, true, 9, "", "", [](const HxModuleOptions& o) { EXPECT_TRUE(o.dgst); }},
    {"SignatureIgnoredForRestore", {"-r", "42", "--dgst", "-m", "srv"}, true, 11, "", "",
     [](const HxModuleOptions& o) { EXPECT_FALSE(o.dgst); }},
    {"ModuleParamsWithBackup", {"-b", "tmpl", "-e", "hxd_block_size:4096"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.module_params, "hxd_block_size:4096"); }},
    {"BackupList", {"-B", "@LIST@"}, true, 10, "", "", [](const HxModuleOptions& o) {
         ASSERT_EQ(o.resource_list.resources().size(), 2u);
         EXPECT_EQ(o.resource_list.resources()[0], "/a");
     }},
    {"CreateReplica", {"-1", "-A", "tmpl", "-d", "/tmp/op", "-n", "arch", "-m", "srv", "-T", "t"}, true, 12, "", "",
     nullptr},
    {"ApplyReplicaCopiesDestination", {"-R", "42", "-d", "/dest", "-m", "srv", "-T", "t"}, true, 13, "", "",
     [](const HxModuleOptions& o) {
         EXPECT_EQ(o.record_id, "42");
         EXPECT_EQ(o.destination_resource, "/dest");
     }},
    {"RestoreWithClientArchive", {"-r", "42", "--autonomous", "--client-archive", "a_full_1", "-i", "old", "-f", "l"},
     true, 11, "", "", [](const HxModuleOptions& o) {
         EXPECT_EQ(o.archive_name, "a_full_1");
         EXPECT_EQ(o.archive_to_patch, "old");
         EXPECT_EQ(o.granular_list, "l");
         EXPECT_TRUE(o.autonomous);
     }},
    {"RestoreWithMetaFile", {"-r", "42", "-m", "srv", "-T", "t", "-M", "/x/a.snap", "-g", "ents"}, true, 11, "", "",
     [](const HxModuleOptions& o) {
         EXPECT_EQ(o.meta_file, "/x/a.snap");
         EXPECT_EQ(o.granular_entities, "ents");
     }},
    {"HelpWinsOverEverything", {"-V", "-h", "-1"}, true, 0, "", "@USAGE@", nullptr},

    // Refusals by the rules, with their messages.
    {"TwoBackupTypes", {"-1", "-2"}, false, 6, "", "", nullptr},
    {"BackupTypeWithQuery", {"-V", "-1"}, false, 14, "", "", nullptr},
    {"QueryAfterQuery", {"-t", "-o"}, false, 1, "", "", nullptr},
    {"BackupAfterQuery", {"-l", "-b", "tmpl"}, false, 3, "", "", nullptr},
    {"BackupAndRestore", {"-b", "tmpl", "-r", "42"}, false, 9, "", "", nullptr},
    {"FullWithReferenceSnapshot", {"-1", "-b", "tmpl", "-s", "base.snap"}, false, 9,
     "Reference snapshot cannot be defined for full backup.", "", nullptr},
    {"ReferenceSnapshotWithRestore", {"-2", "-r", "42", "-s", "base.snap"}, false, 6, "", "", nullptr},
    {"ArchivingWithIncremental", {"-2", "-b", "tmpl", "-a"}, false, 9, "", "", nullptr},
    {"ArchivingWithRestore", {"-r", "42", "-a"}, false, 11, "", "", nullptr},
    {"RestoreTaskWithoutServer", {"-r", "42", "-T", "t"}, false, 11, "You must define media-server before task ID",
     "", nullptr},
    {"CheckClientWithTask", {"-t", "-T", "t"}, false, 1, "Operation 1 incompatible with task ID", "", nullptr},
    {"EmptyBackupResource", {"-b", ""}, false, 9, "Resource is empty", "", nullptr},
    {"EmptyReplicaResource", {"-A", ""}, false, 12, "Resource is empty", "", nullptr},
    {"EmptyListPath", {"-B", ""}, false, 10,
     "bool HxModuleUniversal::parse_module_options(int, char**, HxModuleOptions&): resource is empty", "", nullptr},
    {"MissingListFile", {"-B", "/nonexistent/list.json"}, false, 10,
     "bool HxModuleUniversal::parse_module_options(int, char**, HxModuleOptions&): can't parse json file: "
     "/nonexistent/list.json",
     "", nullptr},
    {"ListFileNotJson", {"-B", "@BADLIST@"}, false, 10, "json parser error", "", nullptr},
    {"EmptyRestoreRecord", {"-r", ""}, false, 11,
     "You must define restore object, record ID in server mode or archive file for authonomous mode", "", nullptr},
    {"EmptyReplicaRecord", {"-R", ""}, false, 13, "Record ID is empty", "", nullptr},
    {"AutonomousAfterServer", {"-b", "tmpl", "-m", "srv", "--autonomous"}, false, 9,
     "Can't use media server with autonomous mode", "", nullptr},
    {"AutonomousWithReplica", {"-A", "tmpl", "--autonomous"}, false, 12, "", "", nullptr},
    {"AutonomousWithQuery", {"-V", "--autonomous"}, false, 14, "", "", nullptr},
    {"OperationDirectoryWithQuery", {"-V", "-d", "/tmp/op"}, false, 14, "", "", nullptr},
    {"ModuleParamsWithQuery", {"-t", "-e", "a:b"}, false, 1, "", "", nullptr},
    {"CompressWithQuery", {"-D", "-z", "2"}, false, 7, "", "", nullptr},
    {"LocalRestrictionsWithRestore", {"-r", "42", "-j"}, false, 11, "", "", nullptr},
    {"ArchiveNameWithRestore", {"-r", "42", "-n", "arch"}, false, 11, "", "", nullptr},
    {"MediaServerWithQuery", {"-V", "-m", "srv"}, false, 14, "", "", nullptr},
    {"GranularListWithoutRestore", {"-b", "tmpl", "-f", "list"}, false, 9,
     "The '-r' option must also be specified for granular restore", "", nullptr},
    {"LocalRestrictionsAlone", {"-j"}, false, 0, "", "", nullptr},

    // Refusals by the option parser.
    {"UnknownOption", {"-V", "-q"}, false, 0, "unrecognised option '-q'", "", nullptr},
    {"UnknownLongOption", {"--no-such-option"}, false, 0, "unrecognised option", "", nullptr},
    {"MissingValue", {"-b"}, false, 0, "the required argument for option '--backup' is missing", "", nullptr},
    {"NonNumericCompress", {"-b", "tmpl", "-z", "fast"}, false, 0, "the argument ('fast') for option '--compress' is invalid",
     "", nullptr},
    {"NonNumericParallelism", {"-b", "tmpl", "-p", "many"}, false, 0, "for option '--parallelism' is invalid", "",
     nullptr},
    {"NegativeParallelism", {"-b", "tmpl", "--parallelism=-1"}, false, 0,
     "the argument ('-1') for option 'parallelism' is invalid", "", nullptr},
    {"NegativeMemoryThreshold", {"-b", "tmpl", "-G", " -5"}, false, 0, "the argument (' -5')", "", nullptr},
    {"ParallelismBeyondRange", {"-b", "tmpl", "-p", "4294967296"}, false, 0, "for option '--parallelism' is invalid",
     "", nullptr},
    {"AmbiguousAbbreviation", {"--back", "tmpl"}, false, 0, "option '--back' is ambiguous", "", nullptr},
    {"OptionTwice", {"-b", "a", "-b", "b"}, false, 0, "cannot be specified more than once", "", nullptr},
    // The option library's placeholders in quoted texts are written as "%25"; stored values keep their '%'.
    {"PlaceholderAsValue", {"-b", "tmpl", "-z", "%value%"}, false, 0,
     "bool HxModuleUniversal::parse_module_options(int, char**, HxModuleOptions&): the argument ('%25value%25') for "
     "option '--compress' is invalid",
     "", nullptr},
    {"PlaceholderInOptionName", {"--zz%option%=1"}, false, 0, "unrecognised option '--zz%25option%25=1'", "", nullptr},
    {"PercentInStoredValue", {"-b", "50%value%"}, true, 9, "", "",
     [](const HxModuleOptions& o) { EXPECT_EQ(o.resource, "50%value%"); }},
    {"SharedFieldTwice", {"-r", "1", "-R", "2"}, false, 11, "", "", nullptr},
    {"StrayArgument", {"-V", "extra"}, false, 0, "too many positional options", "", nullptr},
    {"MalformedNumericModuleParameter", {"-b", "tmpl", "-e", "hxd_hash_length:long"}, false, 9,
     "bool HxModuleUniversal::parse_module_options(int, char**, HxModuleOptions&): stoi", "", nullptr},
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {
protected:
    static void SetUpTestSuite()
    {
        const auto dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("kevra-cl-%%%%%%");
        boost::filesystem::create_directories(dir);
        list_file_ = (dir / "list.json").string();
        bad_list_file_ = (dir / "bad.json").string();
        std::ofstream(list_file_) << R"([{"path": "/a"}, {"path": "/b"}])";
        std::ofstream(bad_list_file_) << R"([{"path": "/a"},)";
        dir_ = dir.string();
    }
    static void TearDownTestSuite() { boost::filesystem::remove_all(dir_); }

    static std::vector<std::string> substitute(std::vector<std::string> args)
    {
        for (auto& arg : args) {
            if (arg == "@LIST@") arg = list_file_;
            if (arg == "@BADLIST@") arg = bad_list_file_;
        }
        return args;
    }

    static std::string dir_, list_file_, bad_list_file_;
};

std::string CommandLine::dir_;
std::string CommandLine::list_file_;
std::string CommandLine::bad_list_file_;

TEST_P(CommandLine, SelectsOperationOrRefuses)
{
    const CommandLineCase& c = GetParam();
    LogCapture log;
    TestModule module;
    Argv argv(substitute(c.args));

    testing::internal::CaptureStdout();
    const bool usable = module.parse_module_options(argv.argc(), argv.argv(), module.opts());
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(usable, c.usable);
    EXPECT_EQ(module.options().operation, c.operation);
    EXPECT_TRUE(log.logged_as_expected(c.logged));
    if (c.printed == "@USAGE@") {
        EXPECT_EQ(printed.rfind("This utility is a part of Kelvomar project\n", 0), 0u) << printed;
        EXPECT_NE(printed.find("Options description:"), std::string::npos) << printed;
    } else {
        EXPECT_EQ(printed, c.printed);
    }
    EXPECT_EQ(module.options().module_name, "/opt/kelvomar/bin/test_module");
    if (c.check) {
        c.check(module.options());
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, CommandLine, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });

// A usable command line ends by parsing the module parameters, which hands
// over to the module's own parameters; a refused one never gets there.
TEST(CommandLineModuleParameters, ParsedOnlyWhenUsable)
{
    LogCapture log;
    TestModule accepted;
    Argv good({"-b", "tmpl", "-e", "mine:1"});
    ASSERT_TRUE(accepted.parse_module_options(good.argc(), good.argv(), accepted.opts()));
    EXPECT_EQ(accepted.special_params().at("mine"), "1");
    EXPECT_EQ(accepted.calls, std::vector<std::string>{"load_custom_module_parameters"});

    TestModule refused;
    Argv bad({"-b", "tmpl", "-e", "mine:1", "-r", "42"});
    ASSERT_FALSE(refused.parse_module_options(bad.argc(), bad.argv(), refused.opts()));
    EXPECT_TRUE(refused.calls.empty());
}

const std::string kUsage = kevra_test::module_usage("9.8.7.test", "/opt/kelvomar/bin/test_module");

TEST(Usage, NoArgumentPrintsUsageAndRefuses)
{
    LogCapture log;
    TestModule module;
    Argv argv({});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(module.parse_module_options(argv.argc(), argv.argv(), module.opts()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsage);
    EXPECT_EQ(module.calls, std::vector<std::string>{"usage_custom"});
}

// The help output is the usage text, then the option table as the option
// library lays it out: every option in table order, with its description.
TEST(Usage, HelpPrintsUsageThenOptionTable)
{
    LogCapture log;
    TestModule module;
    Argv argv({"--help"});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(module.parse_module_options(argv.argc(), argv.argv(), module.opts()));
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(printed.compare(0, std::string(kUsage).size(), kUsage), 0) << printed;
    const std::string table = printed.substr(std::string(kUsage).size());
    EXPECT_EQ(table.rfind("Options description:\n  -h [ --help ]", 0), 0u) << table;
    EXPECT_EQ(table.substr(table.size() - 2), "\n\n");

    const char* const in_order[] = {
        "--help ]", "--version ]", "--update-config ] arg", "--full ]", "--incr ]", "--diff ]", "--autonomous ",
        "--show-backup-options ", "--show-module-properties ", "--create-replica ] arg",
        "--is-archiving-supported ]", "--backup ] arg", "--backup_list ] arg", "--crypto ] arg", "--list-headers ]",
        "--is-dedup-supported ]", "--tmp-operation-directory ] arg", "--module-params ] arg",
        "--archive-to-patch ] arg", "--local-restrictions ]", "--key-file ] arg", "--list-all-resource ]",
        "--list-all-resource--with-headers ]", "--media-server ] arg", "--archive-name ] arg", "--meta-file ] arg",
        "--parallelism ] arg", "--apply-replica ] arg", "--restore ] arg", "--reference-snapshot ] arg",
        "--task-id ] arg", "--check-client ]", "--compress ] arg", "--granular-list ] arg",
        "--granular-entities ] arg", "--dgst ", "--restore-parameters ]", "--memory-threshold ] arg",
        "--delete_from_client_defined_storage arg", "--verify_in_client_defined_storage", "--need_esign ",
        "--sign_hash arg", "--esign arg", "--client-archive arg"};
    std::string::size_type at = 0;
    for (const char* option : in_order) {
        const auto found = table.find(option, at);
        ASSERT_NE(found, std::string::npos) << option << " missing or out of order in:\n" << table;
        at = found;
    }
    EXPECT_NE(table.find("-k [ --key-file ] arg"), std::string::npos);
    EXPECT_NE(table.find("Archive name for client restore."), std::string::npos);
}

}  // namespace
