// The query operations of the shipped program, run in the sandbox: exact
// standard output and exit status of each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/module_usage.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace {

struct QueryCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;  // standard output, compared whole
};

std::ostream& operator<<(std::ostream& out, const QueryCase& c)
{
    return out << c.name;
}

const std::string kProperties =
    "Module properties:\n\n"
    "Only one data source backup operation is allowed at one time       : true\n"
    "Does the module support working in the client's autonomous mode    : false\n"
    "Does the module support incremental backup                         : true\n"
    "Does the module support differential backup                        : true\n"
    "Does this module support deduplication                             : true\n"
    "Does this module support archiving                                 : true\n"
    "Location of the restriction list                                   : "
    "/opt/kelvomar/etc/kelvomar_restriction.list.kevra_template";

const std::string kBackupOptions =
    "dd_block_size\t\t : [integer] \t- Block size for dd operations, Units: Megabytes. Default Value: 5\n"
    "backup_only_config\t : [boolean] \t- If true - backup the template configuration only (do not backup its "
    "images). Default Value: false\n"
    "new_name\t\t : [string] \t- The template name that is to be used to restore the template. Default Value: empty "
    "string\n";

const std::string kRestoreParameters =
    "set_images_persistent: bool :false:Flag indicating that all images for template will be restored as "
    "'PERSISTENT' ones:\n"
    "restore_only_config: bool :false:Flag indicating that only template configuration should be restored without "
    "creation of its images:\n"
    "new_name: string ::A template name that is to be used to restore the template:\n"
    "dd_block_size: integer ::Specifies block size in megabytes for dd operations:\n";

const QueryCase kQueries[] = {
    {"Version", {"-V"}, 0, "2.1.0\n"},
    {"FullSupported", {"-1"}, 0, ""},
    {"IncrementalSupported", {"-2"}, 0, ""},
    {"DifferentialSupported", {"-3"}, 0, ""},
    {"DedupSupported", {"-D"}, 0, ""},
    {"ArchivingSupported", {"-a"}, 0, ""},
    {"AutonomousNotSupported", {"--autonomous"}, 14, ""},
    {"ModuleProperties", {"--show-module-properties"}, 0, kProperties},
    {"BackupOptions", {"--show-backup-options"}, 0, kBackupOptions},
    {"RestoreParameters", {"-o"}, 0, kRestoreParameters},
    {"RestoreParametersLong", {"--restore-parameters"}, 0, kRestoreParameters},
};

class CliQuery : public ::testing::TestWithParam<QueryCase> {};

TEST_P(CliQuery, PrintsExactlyAndExits)
{
    KEVRA_REQUIRE_SANDBOX();
    const QueryCase& c = GetParam();
    std::vector<std::string> argv = {kevra_test::build_path("kevra_template")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto result = kevra_test::run_program(argv);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(Queries, CliQuery, ::testing::ValuesIn(kQueries),
                         [](const ::testing::TestParamInfo<QueryCase>& info) { return info.param.name; });

std::string usage_for(const std::string& program)
{
    return kevra_test::module_usage("2.1.0.2fad7c4", program);
}

// Help: the usage text, then the option table; no operation is selected, so
// the run ends with 1.
TEST(CliHelp, UsageThenOptionTableAndStatusOne)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string program = kevra_test::build_path("kevra_template");
    for (const char* help : {"-h", "--help"}) {
        const auto result = kevra_test::run_program({program, help, "-V"});
        EXPECT_EQ(result.exit_status, 1) << help;
        const std::string usage = usage_for(program);
        ASSERT_EQ(result.out.compare(0, usage.size(), usage), 0) << result.out;
        const std::string table = result.out.substr(usage.size());
        EXPECT_EQ(table.rfind("Options description:\n  -h [ --help ]", 0), 0u) << table;
        EXPECT_NE(table.find("  -V [ --version ]"), std::string::npos) << table;
        EXPECT_NE(table.find("--client-archive arg"), std::string::npos) << table;
        EXPECT_EQ(table.substr(table.size() - 2), "\n\n");
        EXPECT_EQ(result.err, "");
    }
}

// Without any argument the program prints the usage text and refuses the run.
TEST(CliHelp, NoArgumentPrintsUsageAndExits14)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string program = kevra_test::build_path("kevra_template");
    const auto result = kevra_test::run_program({program});
    EXPECT_EQ(result.exit_status, 14);
    EXPECT_EQ(result.out, usage_for(program));
}

}  // namespace
