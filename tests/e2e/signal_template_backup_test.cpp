// Signals sent to the shipped program during a template backup: a termination
// while the clone's image stays LOCKED or while the engine runs ends the run
// with 17 and leaves no clone and no lock; a segmentation fault ends the
// engine before the run ends with 17; stop and continue reach the engine and
// the backup then completes.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
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

std::string module_log() { return read_file("/opt/kelvomar/log/kevra_template.log"); }

std::string engine_events()
{
    const char* state = std::getenv("KEVRA_PLATFORM_STATE");
    return read_file(std::string(state != nullptr ? state : "") + "/calls/hxfd.events");
}

// A template "web" with one FILE image, and the task secret of task T1.
class TemplateSignals : public ::testing::Test {
protected:
    void SetUp() override
    {
        lock_signal_test::own_os_release();
        const std::string datastore = platform_.datastore({"--name", "files"});
        const std::string image = platform_.image({"--name", "disk1", "--datastore", datastore, "--content", "data"});
        platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + image});
        platform_.fixture({"task-secret", "T1"});
    }

    std::vector<std::string> backup(const std::string& archive) const
    {
        return {kevra_test::build_path("kevra_template"), "-1", "-b", "web", "-d",
                lock_signal_test::scratch_dir("op"), "-n", archive, "-m", "srv1", "-T", "T1"};
    }

    // Names of the platform's templates and images, one "ID NAME STATE" line each.
    std::string listing(const std::string& kind) const { return platform_.fixture({"list", kind}); }

    kevra_test::Platform platform_;
};

struct TerminationPoint {
    const char* name;
    std::vector<std::string> fault;  // fixture fault arguments
    bool in_engine;                  // wait for the engine to start, else for the clone wait
};

std::ostream& operator<<(std::ostream& out, const TerminationPoint& p) { return out << p.name; }

class TemplateTermination : public TemplateSignals, public ::testing::WithParamInterface<TerminationPoint> {};

TEST_P(TemplateTermination, EndsWithSeventeenWithoutCloneOrLock)
{
    KEVRA_REQUIRE_SANDBOX();
    const TerminationPoint& point = GetParam();
    std::vector<std::string> fault{"fault"};
    fault.insert(fault.end(), point.fault.begin(), point.fault.end());
    platform_.fixture(fault);

    Role run(backup("bk1"), {});
    if (point.in_engine) {
        ASSERT_TRUE(wait_until([&] { return contains(run.out(), "HXFD PID: "); }, 30)) << run.out() << run.err();
    } else {
        ASSERT_TRUE(wait_until([&] { return contains(module_log(), "Checking images cloning ..."); }, 30))
            << module_log();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a few state queries later
    }
    ASSERT_TRUE(contains(listing("templates"), "bk1")) << "the clone exists while the backup waits";

    ::kill(run.pid(), SIGTERM);
    EXPECT_EQ(run.wait(60), 17) << run.out() << run.err();
    EXPECT_TRUE(contains(module_log(), "Module was terminated. PID: " + std::to_string(run.pid())));
    EXPECT_FALSE(contains(listing("templates"), "bk1")) << listing("templates");
    EXPECT_FALSE(contains(listing("images"), "bk1")) << listing("images");
    if (point.in_engine) {
        EXPECT_TRUE(contains(engine_events(), " SIGTERM")) << "the engine below the module was ended";
    }

    // No lock is left: the next backup of the template runs at once.
    const auto next = kevra_test::run_program(backup("bk2"));
    EXPECT_EQ(next.exit_status, 0) << next.out << next.err;
}

INSTANTIATE_TEST_SUITE_P(
    Points, TemplateTermination,
    ::testing::Values(TerminationPoint{"CloneImageStuckLocked",
                                       {"image-fate", "--name-glob", "bk1-*", "--stuck-locked"},
                                       false},
                      TerminationPoint{"EngineRunning", {"hxfd", "backup", "--times", "1", "--delay", "30"}, true}),
    [](const ::testing::TestParamInfo<TerminationPoint>& info) { return std::string(info.param.name); });

// The engine's process id from the module's output ("HXFD PID: <pid>"), or -1.
pid_t engine_pid(const std::string& out)
{
    const std::string mark = "HXFD PID: ";
    const std::size_t at = out.find(mark);
    return at == std::string::npos ? -1 : static_cast<pid_t>(std::atol(out.c_str() + at + mark.size()));
}

TEST_F(TemplateSignals, FaultDuringTheEngineRunEndsTheEngineBeforeTheModule)
{
    KEVRA_REQUIRE_SANDBOX();
    platform_.fixture({"fault", "hxfd", "backup", "--times", "1", "--delay", "30"});
    Role run(backup("bk1"), {});
    // A generous bound: the staging before the engine is slow on a busy machine.
    ASSERT_TRUE(wait_until([&] { return contains(run.out(), "HXFD PID: "); }, 90)) << run.out() << run.err();
    const pid_t engine = engine_pid(run.out());
    ASSERT_GT(engine, 0) << run.out();
    ASSERT_TRUE(lock_signal_test::process_alive(engine));

    ::kill(run.pid(), SIGSEGV);
    EXPECT_EQ(run.wait(30), 17) << run.out() << run.err();
    EXPECT_FALSE(lock_signal_test::process_alive(engine)) << "the engine outlived the module";
    EXPECT_TRUE(contains(engine_events(), " SIGTERM")) << "the engine was asked to end first: " << engine_events();
    EXPECT_TRUE(contains(module_log(), "Module was terminated. PID: " + std::to_string(run.pid()))) << module_log();
    // No clean-up runs after a fault: the clone stays for the operator.
    EXPECT_TRUE(contains(listing("templates"), "bk1")) << listing("templates");
    ::kill(engine, SIGKILL);
}

TEST_F(TemplateSignals, StopAndContinueReachTheEngineAndTheBackupCompletes)
{
    KEVRA_REQUIRE_SANDBOX();
    platform_.fixture({"fault", "hxfd", "backup", "--times", "1", "--delay", "2"});
    Role run(backup("bk1"), {});
    ASSERT_TRUE(wait_until([&] { return contains(run.out(), "HXFD PID: "); }, 30)) << run.out() << run.err();

    ::kill(run.pid(), SIGTSTP);
    ASSERT_TRUE(wait_until([] { return contains(engine_events(), " SIGTSTP"); }, 10)) << engine_events();
    std::this_thread::sleep_for(std::chrono::seconds(3));  // longer than the engine's delay
    EXPECT_TRUE(lock_signal_test::process_alive(run.pid())) << "the paused backup went on";
    EXPECT_FALSE(contains(run.out(), "MAIN ARCHIVE FILENAME:"));

    ::kill(run.pid(), SIGCONT);
    EXPECT_TRUE(wait_until([] { return contains(engine_events(), " SIGCONT"); }, 10)) << engine_events();
    EXPECT_EQ(run.wait(60), 0) << run.out() << run.err();
    EXPECT_TRUE(contains(run.out(), "MAIN ARCHIVE FILENAME:")) << run.out();
    EXPECT_TRUE(contains(module_log(), " put on pause"));
    EXPECT_TRUE(contains(module_log(), " continue working"));
    EXPECT_FALSE(contains(listing("templates"), "bk1"));
}

}  // namespace
