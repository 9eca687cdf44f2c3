// The dispatch of run: for each operation the hooks called, in order, the
// standard output and the exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/modules/module_test_support.h"

namespace {

using module_test::Argv;
using module_test::LogCapture;
using module_test::TestModule;
using Calls = std::vector<std::string>;

struct DispatchCase {
    const char* name;
    std::function<void(TestModule&)> setup;  // sets the operation, the fields and the hook answers
    unsigned int status;
    Calls calls;
    std::string printed;  // standard output, compared whole; "@PID@" stands for "MODULE PID:<pid>\n"
    std::string logged;   // a text the log must hold; empty: nothing may be logged
};

std::ostream& operator<<(std::ostream& out, const DispatchCase& c)
{
    return out << c.name;
}

std::function<void(TestModule&)> op(int operation, std::function<void(TestModule&)> more = nullptr)
{
    return [operation, more](TestModule& m) {
        m.opts().operation = operation;
        if (more) {
            more(m);
        }
    };
}

const std::string kProperties =
    "Module properties:\n\n"
    "Only one data source backup operation is allowed at one time       : false\n"
    "Does the module support working in the client's autonomous mode    : true\n"
    "Does the module support incremental backup                         : false\n"
    "Does the module support differential backup                        : true\n"
    "Does this module support deduplication                             : false\n"
    "Does this module support archiving                                 : true\n"
    "Location of the restriction list                                   : /etc/r.list";

const DispatchCase kCases[] = {
    {"NoOperation", op(0), 1, {}, "", ""},
    {"OperationAboveTwenty", op(21), 1, {}, "", ""},
    {"CheckClientReturnsHookValue", op(1, [](TestModule& m) { m.hooks.check_client = 42; }), 42,
     {"load_module_config", "check_client(verbose)"}, "", ""},
    {"ListAllReturnsHookValue", op(3, [](TestModule& m) { m.hooks.list_all = 2; }), 2,
     {"load_module_config", "list_all_resources"}, "", ""},
    {"ListWithHeadersReturnsHookValue", op(4, [](TestModule& m) { m.hooks.list_with_headers = 0; }), 0,
     {"load_module_config", "list_all_resources_with_header_labels"}, "", ""},
    {"ListHeadersReturnsHookValue", op(5, [](TestModule& m) { m.hooks.list_headers = 7; }), 7,
     {"load_module_config", "list_header_labels"}, "", ""},
    {"ListingWithoutConfiguration", op(3, [](TestModule& m) { m.hooks.config = false; }), 2, {"load_module_config"},
     "", "Unable to load configuration from config file."},
    {"FullBackupQuery", op(6, [](TestModule& m) { m.opts().backup_type = 1; }), 0, {}, "", ""},
    {"IncrementalSupported",
     op(6, [](TestModule& m) {
         m.opts().backup_type = 2;
         m.opts().incremental_supported = true;
     }),
     0, {}, "", ""},
    {"IncrementalNotSupported", op(6, [](TestModule& m) { m.opts().backup_type = 2; }), 3, {}, "",
     ": incremental backup is not supported by module /opt/kelvomar/bin/test_module"},
    {"DifferentialSupported",
     op(6, [](TestModule& m) {
         m.opts().backup_type = 3;
         m.opts().differential_supported = true;
     }),
     0, {}, "", ""},
    {"DifferentialNotSupported",
     op(6, [](TestModule& m) {
         m.opts().backup_type = 3;
         m.opts().incremental_supported = true;
     }),
     3, {}, "", ": differential backup is not supported by module /opt/kelvomar/bin/test_module"},
    {"DedupSupported", op(7, [](TestModule& m) { m.opts().dedup_supported = true; }), 0, {}, "", ""},
    {"DedupNotSupported", op(7), 15, {}, "", ""},
    {"ArchivingSupported", op(8, [](TestModule& m) { m.opts().archiving_supported = true; }), 0, {}, "", ""},
    {"ArchivingNotSupported", op(8), 16, {}, "", ""},
    {"AutonomousSupported", op(16, [](TestModule& m) { m.opts().autonomous_supported = true; }), 0, {}, "", ""},
    {"AutonomousNotSupported", op(16), 14, {}, "", ""},
    {"Version", op(14), 0, {}, "2.1.0\n", ""},
    {"BackupOptions", op(15), 0, {"autonomous_options"}, "", ""},
    {"RestoreParameters", op(18), 0, {"list_restore_parameters"}, "", ""},
    {"ModuleProperties",
     op(17, [](TestModule& m) {
         m.opts().autonomous_supported = true;
         m.opts().differential_supported = true;
         m.opts().archiving_supported = true;
         m.opts().set_to_numeric = true;
         m.opts().restriction_list_file = "/etc/r.list";
     }),
     0, {}, kProperties, ""},
    {"NeedEsignYes", op(20, [](TestModule& m) { m.opts().need_esign = true; }), 0, {}, "", ""},
    {"NeedEsignNoForBackup", op(9, [](TestModule& m) { m.opts().need_esign = true; }), 14, {}, "", ""},
    {"BackupWithoutConfiguration", op(9, [](TestModule& m) { m.hooks.config = false; }), 2, {"load_module_config"},
     "@PID@", "Unable to load configuration from config file."},
    {"BackupWithoutOperationDirectory", op(9, [](TestModule& m) { m.opts().archive_name = "a1"; }), 4,
     {"load_module_config"}, "@PID@", "Backup module: you must define tmp_operation_directory directory."},
    {"BackupWithoutArchiveName", op(10, [](TestModule& m) { m.opts().tmp_operation_directory = "/tmp/op"; }), 5,
     {"load_module_config"}, "@PID@", "Backup module: you must define archive name."},
    {"ReplicaWithoutOperationDirectory", op(12), 4, {"load_module_config"}, "@PID@",
     "Backup module: you must define tmp_operation_directory directory."},
    {"RestoreWithoutConfiguration", op(11, [](TestModule& m) { m.hooks.config = false; }), 2, {"load_module_config"},
     "@PID@", "Unable to load configuration from config file."},
    {"ReplicaApplyWithoutConfiguration", op(13, [](TestModule& m) { m.hooks.config = false; }), 2,
     {"load_module_config"}, "@PID@", "Unable to load configuration from config file."},
    {"DeleteWithEmptyJson", op(19), 14, {"load_module_config"}, "", "Empty json content"},
    {"DeleteWithoutConfiguration",
     op(19, [](TestModule& m) {
         m.hooks.config = false;
         m.opts().delete_from_client_defined_storage = "{}";
     }),
     2, {"load_module_config"}, "", "Unable to load configuration from config file."},
    {"VerifyWithoutConfiguration", op(20, [](TestModule& m) { m.hooks.config = false; }), 2, {"load_module_config"},
     "", "Unable to load configuration from config file."},
    {"StandardException", op(1, [](TestModule& m) { m.hooks.throw_in_config = 1; }), 13, {}, "",
     "unsigned int HxModuleUniversal::run(): Database error: config exploded"},
    {"FilesystemException", op(9, [](TestModule& m) { m.hooks.throw_in_config = 2; }), 13, {}, "@PID@",
     "unsigned int HxModuleUniversal::run(): filesystem error: config path"},
};

class Dispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, RunsTheOperationsStepsInOrder)
{
    const DispatchCase& c = GetParam();
    LogCapture log;
    HxModuleOptions options;
    options.module_name = "/opt/kelvomar/bin/test_module";
    TestModule module(options);
    c.setup(module);

    testing::internal::CaptureStdout();
    const unsigned int status = module.run();
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(status, c.status);
    EXPECT_EQ(module.calls, c.calls);
    const std::string pid_line = "MODULE PID:" + std::to_string(::getpid()) + "\n";
    EXPECT_EQ(printed, c.printed == "@PID@" ? pid_line : c.printed);
    EXPECT_TRUE(log.logged_as_expected(c.logged));
}

INSTANTIATE_TEST_SUITE_P(Operations, Dispatch, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DispatchCase>& info) { return info.param.name; });

TEST(ModuleProperties, DefaultRecordReportsFalseAndNoLineEndAtTheEnd)
{
    TestModule module;
    testing::internal::CaptureStdout();
    module.module_properties();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "Module properties:\n\n"
              "Only one data source backup operation is allowed at one time       : false\n"
              "Does the module support working in the client's autonomous mode    : false\n"
              "Does the module support incremental backup                         : false\n"
              "Does the module support differential backup                        : false\n"
              "Does this module support deduplication                             : false\n"
              "Does this module support archiving                                 : false\n"
              "Location of the restriction list                                   : ");
}

TEST(ModuleOptions, DefaultsAndIndependentCopies)
{
    const HxModuleOptions defaults;
    EXPECT_EQ(defaults.operation, 0);
    EXPECT_EQ(defaults.backup_type, 1);
    EXPECT_EQ(defaults.compress, 1);
    EXPECT_EQ(defaults.crypto, "nocrypt");
    EXPECT_EQ(defaults.parallelism, 1u);
    EXPECT_EQ(defaults.remote_user, "root");
    EXPECT_EQ(defaults.memory_threshold, 0u);
    EXPECT_TRUE(defaults.resource_list.is_empty());

    HxModuleOptions entry;
    entry.resource = "web";
    entry.dedup_supported = true;
    TestModule module(entry);
    module.opts().resource = "changed";
    module.opts().dedup_supported = false;
    EXPECT_EQ(entry.resource, "web");
    EXPECT_TRUE(entry.dedup_supported);
    EXPECT_EQ(module.options().resource, "changed");
}

TEST(ModuleConstruction, InitialMembers)
{
    TestModule module;
    EXPECT_EQ(module.hxfd_flag_names(),
              (Calls{"worker_parallelism", "network_parallelism", "enable_multithreading", "enable_flexible_dedup"}));
    EXPECT_TRUE(module.remove_operation_directory());
    EXPECT_EQ(module.hxfd_pid(), 0);
    EXPECT_FALSE(module.data_incomplete());
    EXPECT_FALSE(module.is_OS_snapshot_using());
    EXPECT_EQ(module.os_snapshot_size(), 10);
    EXPECT_TRUE(module.ignore_errors_snapshot());
}

// init parses the command line into the module's own record.
TEST(ModuleInit, ParsesIntoTheModulesRecord)
{
    LogCapture log;
    TestModule module;
    Argv argv({"-D"});
    ASSERT_TRUE(module.init(argv.argc(), argv.argv()));
    EXPECT_EQ(module.options().operation, 7);
    EXPECT_EQ(module.options().module_name, "/opt/kelvomar/bin/test_module");

    TestModule refused;
    Argv bad({"-D", "-V"});
    EXPECT_FALSE(refused.init(bad.argc(), bad.argv()));
}

// Asking whether an operation needs an electronic signature loads no storages.
TEST(ModuleInit, NeedEsignSkipsStorages)
{
    LogCapture log;
    TestModule module;
    Argv argv({"--need_esign", "--verify_in_client_defined_storage", "-T", "t9"});
    ASSERT_TRUE(module.init(argv.argc(), argv.argv()));
    EXPECT_EQ(log.text(), "");
    testing::internal::CaptureStdout();
    EXPECT_EQ(module.run(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
