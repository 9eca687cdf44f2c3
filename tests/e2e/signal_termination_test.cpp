// Termination signals sent to a real module process at the points where they
// matter: the process below the module is ended, the clean-up touches only
// what this run created, the lock is free afterwards and the exit status is 17.
// A segmentation fault ends the processes below the module, writes the record
// and exits with 17: nothing else of the process can be trusted for a clean-up.
#include <gtest/gtest.h>

#include <signal.h>

#include <boost/filesystem.hpp>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/lock_signal_support.h"
#include "tests/support/sandbox_guard.h"

namespace {

namespace fs = boost::filesystem;
using lock_signal_test::ModuleRun;
using lock_signal_test::module_log;
using lock_signal_test::path_exists;
using lock_signal_test::process_alive;
using lock_signal_test::Role;
using lock_signal_test::wait_until;

enum class Operation { backup, restore, check_client };

struct TerminationCase {
    const char* name;
    Operation operation;
    const char* block_in;
    int signal;
    bool ends_below;         // the processes below have ended when the module has
    bool cleans_up;          // the clean-up runs
    bool expect_release;     // release_resource_after_backup runs
    bool restore_dir_before; // the restore directory exists before the run
    bool restore_dir_left;   // the restore directory is there afterwards
};

std::ostream& operator<<(std::ostream& out, const TerminationCase& c) { return out << c.name; }

std::vector<std::string> arguments(Operation operation, const std::string& operation_dir)
{
    switch (operation) {
    case Operation::backup:
        return {"-1", "-b", "res1", "-d", operation_dir, "-n", "arch1"};
    case Operation::restore:
        return {"-r", "42", "-d", operation_dir};
    case Operation::check_client:
        return {"-t"};
    }
    return {};
}

class Termination : public ::testing::TestWithParam<TerminationCase> {};

TEST_P(Termination, EndsBelowCleansUpOwnWorkAndExitsSeventeen)
{
    KEVRA_REQUIRE_SANDBOX();
    const TerminationCase& c = GetParam();
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    std::ofstream(operation_dir + "/agent-file") << "the agent's\n";
    const std::string restore_dir = operation_dir + "/42.rest";
    if (c.restore_dir_before) {
        // As an earlier run makes it: private to root.
        fs::create_directories(restore_dir);
        fs::permissions(restore_dir, fs::owner_all);
        std::ofstream(restore_dir + "/earlier") << "kept\n";
    }
    ModuleRun run(arguments(c.operation, operation_dir), {{"KEVRA_TEST_BLOCK_IN", c.block_in}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    const pid_t below = run.child();
    ASSERT_TRUE(process_alive(below)) << "the process below the module runs";
    if (c.operation == Operation::restore && std::string(c.block_in) == "before_restore") {
        ASSERT_TRUE(path_exists(restore_dir)) << "the run has defined its restore directory";
    }

    run.send(c.signal);
    EXPECT_EQ(run.wait(), 17) << "exit status\n" << run.err();

    if (c.ends_below && !c.cleans_up) {
        EXPECT_FALSE(process_alive(below)) << "the process below the module outlived it";
    } else if (c.ends_below) {
        EXPECT_TRUE(wait_until([&] { return !process_alive(below); }, 10))
            << "the process below the module still runs";
    }
    ::kill(below, SIGKILL);
    EXPECT_EQ(run.called("handle_shutdown_signal"), c.cleans_up) << "whether the clean-up hook ran\n" << run.events();
    EXPECT_EQ(run.called("release_resource_after_backup"), c.expect_release)
        << "whether the backup's resources were released\n" << run.events();
    EXPECT_NE(module_log().find("Module was terminated. PID: " + std::to_string(run.pid())), std::string::npos)
        << "no termination record\n" << module_log();
    EXPECT_TRUE(path_exists(operation_dir + "/agent-file")) << "the agent's operation directory was touched";
    if (c.operation == Operation::restore) {
        EXPECT_EQ(path_exists(restore_dir), c.restore_dir_left) << "whether the restore directory is left";
    }
    if (c.operation != Operation::check_client) {
        // No lock is held any more: another process takes it at once.
        Role next("lock", {}, {}, true);
        const std::string pair = c.operation == Operation::backup ? "kevra_test_module res1" : "kevra_test_module 42";
        ASSERT_EQ(next.ask("open " + pair), "opened") << "another process can open the lock";
        EXPECT_EQ(next.ask("try"), "locked") << "the run's lock is still held";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Points, Termination,
    ::testing::Values(
        TerminationCase{"BackupBeforePreparation", Operation::backup, "load_module_config", SIGTERM, true, true, true,
                        false, false},
        TerminationCase{"BackupAtResourceCheck", Operation::backup, "resource_exists", SIGINT, true, true, true, false,
                        false},
        TerminationCase{"BackupDuringPreparation", Operation::backup, "prepare_resource_before_backup", SIGTERM,
                        true, true, true, false, false},
        TerminationCase{"BackupFaultDuringPreparation", Operation::backup, "prepare_resource_before_backup",
                        SIGSEGV, true, false, false, false, false},
        TerminationCase{"RestoreBeforeItsDirectory", Operation::restore, "load_module_config", SIGTERM, true, true,
                        false, false, false},
        TerminationCase{"RestoreAfterCreatingItsDirectory", Operation::restore, "before_restore", SIGTERM, true, true,
                        false, false, false},
        TerminationCase{"RestoreIntoAnExistingDirectory", Operation::restore, "before_restore", SIGINT, true, true,
                        false, true, true},
        TerminationCase{"CapabilityQuery", Operation::check_client, "check_client", SIGTERM, true, true, false, false,
                        false}),
    [](const ::testing::TestParamInfo<TerminationCase>& info) { return std::string(info.param.name); });

TEST(TerminationSafety, SignalInsideALogWriteDoesNotDeadlock)
{
    KEVRA_REQUIRE_SANDBOX();
    // The module raises SIGTERM from inside a shared log destination's write,
    // holding its mutex; the termination's records must not wait on it for good.
    // (The trapping destination writes to standard output only.)
    ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"},
                           {"KEVRA_TEST_TRAP_SIGNAL", std::to_string(SIGTERM)},
                           {"KEVRA_TEST_SHUTDOWN_LIMIT", "20"}});
    EXPECT_EQ(run.wait(40), 17) << "exit status";
    EXPECT_NE(run.out().find("Module was terminated. PID: " + std::to_string(run.pid())), std::string::npos)
        << "no termination record\n" << run.out() << run.err();
    EXPECT_EQ(run.err().find("did not end in time"), std::string::npos) << "the deadline fired\n" << run.err();
}

TEST(TerminationSafety, StuckCleanUpEndsAfterTheTimeLimit)
{
    KEVRA_REQUIRE_SANDBOX();
    ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"},
                           {"KEVRA_TEST_HANG_SHUTDOWN", "1"},
                           {"KEVRA_TEST_SHUTDOWN_LIMIT", "1"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    run.send(SIGTERM);
    EXPECT_EQ(run.wait(20), 17) << "exit status";
    EXPECT_NE(run.err().find("Module termination clean-up did not end in time"), std::string::npos)
        << "no record of the deadline\n" << run.err();
}

TEST(TerminationSafety, StuckCleanUpNamesWhatItLeavesBehind)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    ModuleRun run({"-1", "-b", "res3", "-d", operation_dir, "-n", "arch3"},
                  {{"KEVRA_TEST_BLOCK_IN", "prepare_resource_before_backup"},
                   {"KEVRA_TEST_HANG_SHUTDOWN", "1"},
                   {"KEVRA_TEST_SHUTDOWN_LIMIT", "1"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    run.send(SIGTERM);
    EXPECT_EQ(run.wait(20), 17) << "exit status";
    const std::string left = "Left behind: the directory " + operation_dir + "/arch3.snap_dir";
    EXPECT_NE(run.err().find("Error: Module termination clean-up did not end in time"), std::string::npos)
        << "no Error record of the deadline on standard error\n" << run.err();
    EXPECT_NE(run.err().find(left), std::string::npos) << "the record does not name the snapshot directory\n"
                                                        << run.err();
    EXPECT_NE(module_log().find(left), std::string::npos) << "the log has no record naming the snapshot directory\n"
                                                          << module_log();
}

TEST(TerminationSafety, SecondSignalDuringCleanUpDoesNotRestartIt)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    ModuleRun run({"-1", "-b", "res2", "-d", operation_dir, "-n", "arch"},
                  {{"KEVRA_TEST_BLOCK_IN", "prepare_resource_before_backup"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    run.send(SIGTERM);
    run.send(SIGTERM);
    run.send(SIGINT);
    EXPECT_EQ(run.wait(), 17) << "exit status";
    const std::string events = run.events();
    std::size_t releases = 0;
    for (std::size_t at = events.find("release_resource_after_backup"); at != std::string::npos;
         at = events.find("release_resource_after_backup", at + 1)) {
        ++releases;
    }
    EXPECT_EQ(releases, 1u) << "the clean-up ran more than once\n" << events;
}

}  // namespace
