// A process that a command of the run leaves running after the command has
// ended (a double fork: its parent is gone, so it is no longer below the
// command) stays below the module and ends with the run: at a termination, at
// a segmentation fault, at the termination's deadline and at the normal end
// of a backup. Afterwards it is gone from the process table, not even a
// zombie. The commands are the engine and a platform tool (the stand-ins'
// fault --orphan), and, for the deadline, a platform tool that the
// termination's clean-up runs and that never answers.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/lock_signal_support.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

namespace {

using lock_signal_test::read_file;
using lock_signal_test::Role;
using lock_signal_test::wait_until;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string template_log() { return read_file("/opt/kelvomar/log/kevra_template.log"); }

// The processes that the stand-ins left behind so far: "<pid> TOOL SUBCOMMAND" lines.
std::vector<pid_t> orphans()
{
    const char* state = std::getenv("KEVRA_PLATFORM_STATE");
    std::istringstream lines(read_file(std::string(state != nullptr ? state : "") + "/calls/orphans"));
    std::vector<pid_t> pids;
    for (std::string line; std::getline(lines, line);) {
        pids.push_back(static_cast<pid_t>(std::atol(line.c_str())));
    }
    return pids;
}

// The parent of a process, -1 when it is gone.
pid_t parent_of(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) {
        return -1;
    }
    return static_cast<pid_t>(std::atol(stat.c_str() + close + 4));
}

// Gone from the process table: neither running nor a zombie waiting to be collected.
bool gone(pid_t pid) { return lock_signal_test::process_state(pid) == '?'; }

// Ends a process that a failed case left behind (only the stand-ins' sleep).
void end_if_left(pid_t pid)
{
    if (!gone(pid) && contains(read_file("/proc/" + std::to_string(pid) + "/cmdline"), "sleep")) {
        ::kill(pid, SIGKILL);
    }
}

struct OrphanCase {
    const char* name;
    std::vector<std::vector<std::string>> faults;  // fixture fault arguments
    int signal;                                    // 0: the backup runs to its end
};

std::ostream& operator<<(std::ostream& out, const OrphanCase& c) { return out << c.name; }

// A template "web" with one FILE image, and the task secret of task T1.
class OrphanOfACommand : public ::testing::TestWithParam<OrphanCase> {
protected:
    void SetUp() override
    {
        lock_signal_test::own_os_release();
        const std::string datastore = platform_.datastore({"--name", "files"});
        const std::string image = platform_.image({"--name", "disk1", "--datastore", datastore, "--content", "data"});
        platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + image});
        platform_.fixture({"task-secret", "T1"});
    }

    kevra_test::Platform platform_;
};

TEST_P(OrphanOfACommand, EndsWithTheRun)
{
    KEVRA_REQUIRE_SANDBOX();
    const OrphanCase& c = GetParam();
    for (const auto& fault : c.faults) {
        std::vector<std::string> args{"fault"};
        args.insert(args.end(), fault.begin(), fault.end());
        platform_.fixture(args);
    }
    Role run({kevra_test::build_path("kevra_template"), "-1", "-b", "web", "-d", lock_signal_test::scratch_dir("op"),
              "-n", "bk1", "-m", "srv1", "-T", "T1"},
             {});
    pid_t orphan = -1;
    if (c.signal != 0) {
        // A generous bound: the staging before the engine is slow on a busy machine.
        ASSERT_TRUE(wait_until([&] { return contains(run.out(), "HXFD PID: ") && !orphans().empty(); }, 90))
            << run.out() << run.err();
        orphan = orphans().front();
        // (Its line is written just before its first parent ends.)
        EXPECT_TRUE(wait_until([&] { return parent_of(orphan) == run.pid(); }, 10))
            << "the process left behind is not below the module: its parent is " << parent_of(orphan);
        ::kill(run.pid(), c.signal);
        EXPECT_EQ(run.wait(60), 17) << run.out() << run.err();
    } else {
        EXPECT_EQ(run.wait(90), 0) << run.out() << run.err();
        ASSERT_EQ(orphans().size(), 1u) << "the command left nothing behind";
        orphan = orphans().front();
        EXPECT_TRUE(contains(template_log(), "Processes that the run's commands left running were ended: PID " +
                                                 std::to_string(orphan)))
            << template_log();
    }
    EXPECT_TRUE(gone(orphan)) << "the process " << orphan << " that a command left outlived the run (state "
                              << lock_signal_test::process_state(orphan) << ")";
    end_if_left(orphan);
}

const std::vector<std::string> kEngineWaits{"hxfd", "backup", "--times", "1", "--delay", "30"};

INSTANTIATE_TEST_SUITE_P(
    Ends, OrphanOfACommand,
    ::testing::Values(
        OrphanCase{"EngineAtTermination",
                   {{"hxfd", "backup", "--times", "1", "--delay", "30", "--orphan", "300"}},
                   SIGTERM},
        OrphanCase{"EngineAtSegmentationFault",
                   {{"hxfd", "backup", "--times", "1", "--delay", "30", "--orphan", "300"}},
                   SIGSEGV},
        OrphanCase{"EngineAtTheEnd", {{"hxfd", "backup", "--times", "1", "--orphan", "300"}}, 0},
        // Left by a platform command that ended long before the signal, and
        // deaf to SIGTERM: it is killed after the grace.
        OrphanCase{"PlatformToolAtTermination",
                   {{"onetemplate", "clone", "--times", "1", "--orphan", "300", "--orphan-ignores-term"}, kEngineWaits},
                   SIGTERM},
        OrphanCase{"PlatformToolAtSegmentationFault",
                   {{"onetemplate", "clone", "--times", "1", "--orphan", "300", "--orphan-ignores-term"}, kEngineWaits},
                   SIGSEGV},
        OrphanCase{"PlatformToolAtTheEnd",
                   {{"onetemplate", "clone", "--times", "1", "--orphan", "300", "--orphan-ignores-term"}},
                   0}),
    [](const ::testing::TestParamInfo<OrphanCase>& info) { return std::string(info.param.name); });

// The clean-up of a termination runs a platform tool that leaves a process
// behind and then never answers: the deadline ends the tool and that process.
TEST(OrphanOfACleanUpCommand, EndsAtTheDeadline)
{
    KEVRA_REQUIRE_SANDBOX();
    const kevra_test::Platform platform;
    platform.fixture({"fault", "onehost", "list", "--orphan", "300", "--orphan-ignores-term", "--hang", "600"});
    lock_signal_test::ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"},
                                             {"KEVRA_TEST_SHUTDOWN_COMMAND", "/usr/bin/onehost list"},
                                             {"KEVRA_TEST_SHUTDOWN_LIMIT", "10"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    run.send(SIGTERM);
    ASSERT_TRUE(wait_until([] { return !orphans().empty(); }, 20)) << run.err();
    const pid_t orphan = orphans().front();
    EXPECT_TRUE(wait_until([&] { return parent_of(orphan) == run.pid(); }, 10))
        << "the process left behind is not below the module: its parent is " << parent_of(orphan);
    EXPECT_EQ(run.wait(40), 17) << run.out() << run.err();
    EXPECT_TRUE(contains(run.err(), "did not end in time: the command '/usr/bin/onehost list' was ended"))
        << run.err();
    EXPECT_TRUE(gone(orphan)) << "the process " << orphan << " that the clean-up's command left outlived the run";
    end_if_left(orphan);
}

}  // namespace
