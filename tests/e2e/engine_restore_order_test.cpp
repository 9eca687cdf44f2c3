// Operations 11 (restore) and 13 (apply a replica) through the framework with a
// small module in the sandbox: the order of the module's hooks around the
// engine stand-in's run, and what each way out leaves behind (the restore
// directory, the unpacked snapshot directory).
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"
#include "tests/support/argv.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
using engine_test::EngineTestModule;
using Calls = std::vector<std::string>;

// One run: the hook that refuses (if any), whether the engine fails, and what follows.
struct OrderCase {
    const char* label;
    std::string params;   // module parameters (-e), "" for none
    std::string refuses;  // "before", "after", "last" or "deploy": that hook answers false
    bool engine_fails;
    unsigned int status;
    Calls calls;
    bool engine_ran;
    bool directory_kept;  // the restore (or replica) directory is still there
};

void PrintTo(const OrderCase& c, std::ostream* out)
{
    *out << c.label;
}

class RestoreOrder : public ::testing::Test {
protected:
    void SetUp() override
    {
        KEVRA_REQUIRE_SANDBOX();
        root_ = kevra_test::scratch_dir("engine-restore");
        op_ = root_ + "/op";
        fs::remove_all(op_);
        fs::create_directories(op_);
        platform_.fixture({"task-secret", "T1"});
        // An archive in the engine's store and the snapshot file that carries its meta file.
        const std::string meta_dir = root_ + "/meta";
        fs::create_directories(meta_dir);
        kevra_test::write_file(root_ + "/disk", "restored bytes");
        platform_.fixture({"make-archive", "arch1", "--server", "ms1", "--task", "T1",
                           "--entry=vda-disk=" + root_ + "/disk", "--meta", meta_dir + "/arch1.meta"});
        snapshot_ = root_ + "/arch1.snap";
        ASSERT_EQ(platform_.shell("/bin/tar czf '" + snapshot_ + "' -C '" + meta_dir + "' arch1.meta").exit_status, 0);
        platform_.fixture({"calls", "all", "--clear"});
    }

    // Runs the operation given by `flag` ("-r" or "-R") for record 42 with a
    // fresh copy of the snapshot file, as the agent hands it over.
    unsigned int run(const std::string& flag, const OrderCase& c)
    {
        module_ = std::make_unique<EngineTestModule>();
        EngineTestModule::RestoreAnswers& answers = module_->restore_answers;
        answers.before = c.refuses != "before";
        answers.after = c.refuses != "after";
        answers.after_last_file = c.refuses != "last";
        answers.deployment = c.refuses != "deploy";
        if (c.engine_fails) {
            platform_.fixture({"fault", "hxfd", "restore", "--exit", "1", "--stdout", "media server unreachable"});
        }
        const std::string copy = op_ + "/arch1.snap";
        fs::copy_file(snapshot_, copy, fs::copy_options::overwrite_existing);
        std::vector<std::string> args = {flag, "42", "-d", op_, "-m", "ms1", "-T", "T1", "-M", copy};
        if (!c.params.empty()) {
            args.insert(args.end(), {"-e", c.params});
        }
        kevra_test::Argv argv(args, "/opt/kelvomar/bin/engine_test_module");
        if (!module_->parse_module_options(argv.argc(), argv.argv(), module_->opts())) {
            return 14;
        }
        ::testing::internal::CaptureStdout();
        const unsigned int status = module_->run();
        ::testing::internal::GetCapturedStdout();
        return status;
    }

    // The exit status, the hooks in order, whether the engine ran, and that the
    // unpacked snapshot file is gone on every way out.
    void expect_run(const OrderCase& c, unsigned int status) const
    {
        EXPECT_EQ(status, c.status) << log_.text();
        EXPECT_EQ(module_->calls, c.calls);
        EXPECT_EQ(!platform_.calls("hxfd").empty(), c.engine_ran);
        EXPECT_FALSE(module_->reference_directory().empty());
        EXPECT_FALSE(fs::exists(module_->reference_directory())) << "the unpacked snapshot file stays behind";
    }

    engine_test::LogCapture log_;
    kevra_test::Platform platform_;
    std::unique_ptr<EngineTestModule> module_;
    std::string root_, op_, snapshot_;
};

class RestoreHookOrder : public RestoreOrder, public ::testing::WithParamInterface<OrderCase> {};

// A restore: the hooks in order, the last archive's hooks only with `last`,
// and every failure cleaning up as for the last archive of a chain.
TEST_P(RestoreHookOrder, Restore)
{
    const OrderCase& c = GetParam();
    expect_run(c, run("-r", c));
    const std::string restore_directory = module_->opts().tmp_operation_directory;
    EXPECT_EQ(restore_directory, op_ + "/42.rest");
    EXPECT_EQ(fs::exists(restore_directory), c.directory_kept) << log_.text();
    if (c.status == 0 && c.directory_kept) {
        EXPECT_EQ(kevra_test::read_file(restore_directory + "/vda-disk"), "restored bytes");
    }
}

const Calls kRestored = {"before_restore", "after_restore"};
const Calls kDeployed = {"before_restore", "after_restore", "after_restore_last_file", "deployment"};

Calls then(Calls calls, const std::string& call)
{
    calls.push_back(call);
    return calls;
}

INSTANTIATE_TEST_SUITE_P(
    Operation11, RestoreHookOrder,
    ::testing::Values(
        OrderCase{"IntermediateArchive", "", "", false, 0, then(kRestored, "close_restore"), true, true},
        OrderCase{"LastArchiveDeployed", "last:true", "", false, 0, then(kDeployed, "close_restore"), true, false},
        OrderCase{"LastArchiveWithoutDeployment", "last:true,without_deployment_restore:yes", "", false, 0,
                  then(kRestored, "after_restore_last_file"), true, true},
        OrderCase{"IntermediateWithoutDeployment", "without_deployment_restore:yes", "", false, 0, kRestored, true,
                  true},
        OrderCase{"BeforeRestoreRefuses", "", "before", false, 7, {"before_restore", "close_restore"}, false, false},
        OrderCase{"EngineFailsAfterRestoreStillCalled", "", "", true, 7, then(kRestored, "close_restore"), true,
                  false},
        OrderCase{"EngineFailsWithoutDeployment", "without_deployment_restore:yes", "", true, 7,
                  then(kRestored, "close_restore"), true, false},
        OrderCase{"AfterRestoreRefuses", "last:true", "after", false, 7, then(kRestored, "close_restore"), true,
                  false},
        OrderCase{"LastFileHookRefuses", "last:true", "last", false, 7,
                  then(then(kRestored, "after_restore_last_file"), "close_restore"), true, false},
        OrderCase{"DeploymentRefuses", "last:true", "deploy", false, 7, then(kDeployed, "close_restore"), true,
                  false}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.label); });

class ReplicaHookOrder : public RestoreOrder, public ::testing::WithParamInterface<OrderCase> {};

// A replica application: every hook on each success, neither `last` nor
// `without_deployment_restore` consulted, and a directory of its own, made
// new and removed with the unpacked snapshot directory on every way out.
TEST_P(ReplicaHookOrder, ApplyReplica)
{
    const OrderCase& c = GetParam();
    expect_run(c, run("-R", c));
    EXPECT_EQ(module_->opts().tmp_operation_directory, op_ + "/42.rest");
    EXPECT_EQ(fs::exists(op_ + "/42.rest"), c.directory_kept) << log_.text();
    EXPECT_TRUE(fs::exists(op_));
}

const Calls kApplied = {"before_restore", "after_restore", "after_restore_last_file", "deployment(replica)",
                        "close_restore"};

INSTANTIATE_TEST_SUITE_P(
    Operation13, ReplicaHookOrder,
    ::testing::Values(OrderCase{"Applied", "", "", false, 0, kApplied, true, false},
                      OrderCase{"RestoreParametersIgnored", "last:false,without_deployment_restore:yes", "", false, 0,
                                kApplied, true, false},
                      OrderCase{"BeforeRestoreRefuses", "", "before", false, 7, {"before_restore", "close_restore"},
                                false, false},
                      OrderCase{"EngineFailsAfterRestoreStillCalled", "", "", true, 7,
                                {"before_restore", "after_restore", "close_restore"}, true, false},
                      OrderCase{"AfterRestoreRefuses", "", "after", false, 7,
                                {"before_restore", "after_restore", "close_restore"}, true, false},
                      OrderCase{"LastFileHookRefuses", "", "last", false, 7,
                                {"before_restore", "after_restore", "after_restore_last_file", "close_restore"}, true,
                                false},
                      OrderCase{"DeploymentRefuses", "", "deploy", false, 7,
                                {"before_restore", "after_restore", "after_restore_last_file", "deployment(replica)",
                                 "close_restore"},
                                true, false}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.label); });

}  // namespace
