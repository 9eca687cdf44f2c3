// Stop and continue signals sent to a real module process: the module's work
// stands still until SIGCONT, the engine (a child standing for it) is stopped
// and continued with it, and a termination still ends a paused module.
#include <gtest/gtest.h>

#include <signal.h>

#include <time.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "tests/e2e/lock_signal_support.h"
#include "tests/support/sandbox_guard.h"

namespace {

using lock_signal_test::ModuleRun;
using lock_signal_test::module_log;
using lock_signal_test::process_state;
using lock_signal_test::wait_until;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// True when the module's work counter does not move for a second.
bool standing_still(const ModuleRun& run)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long before = run.ticks();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return run.ticks() == before;
}

// True when the counter moves within five seconds.
bool working(const ModuleRun& run)
{
    const long before = run.ticks();
    return wait_until([&] { return run.ticks() > before; }, 5);
}

// The log line that holds `text`, without its line end; empty when none does.
std::string line_with(const std::string& log, const std::string& text)
{
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (contains(line, text)) {
            return line;
        }
    }
    return "";
}

// Seconds between the "[YYYY-MM-DD HH:MM:SS]" stamp of a log line and now.
long stamp_age(const std::string& line)
{
    struct tm stamp {};
    if (::strptime(line.c_str(), "[%Y-%m-%d %H:%M:%S]", &stamp) == nullptr) {
        return 1000000;
    }
    stamp.tm_isdst = -1;
    return static_cast<long>(std::labs(static_cast<long>(::time(nullptr) - ::mktime(&stamp))));
}

struct PauseCase {
    const char* name;
    bool engine;
};

std::ostream& operator<<(std::ostream& out, const PauseCase& c) { return out << c.name; }

class Pause : public ::testing::TestWithParam<PauseCase> {};

TEST_P(Pause, StopHoldsTheModuleAndTheEngineUntilContinue)
{
    KEVRA_REQUIRE_SANDBOX();
    const PauseCase& c = GetParam();
    std::map<std::string, std::string> environment{{"KEVRA_TEST_BLOCK_IN", "check_client"}};
    if (c.engine) {
        environment["KEVRA_TEST_ENGINE"] = "1";
    }
    ModuleRun run({"-t"}, environment);
    ASSERT_TRUE(run.wait_ready()) << run.err();
    const pid_t engine = run.child();
    ASSERT_TRUE(working(run));

    run.send(SIGTSTP);
    EXPECT_TRUE(wait_until([&] { return contains(module_log(), " put on pause"); }, 5)) << module_log();
    // The handler's record has the logging library's form and the local time.
    const std::string record = line_with(module_log(), " put on pause");
    EXPECT_TRUE(std::regex_match(record, std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] Info: Module pid: )" +
                                                    std::to_string(run.pid()) + " put on pause")))
        << record;
    EXPECT_LE(stamp_age(record), 5) << record;
    EXPECT_TRUE(contains(run.out(), record + "\n")) << "the record goes to standard output too";
    EXPECT_TRUE(standing_still(run));
    EXPECT_EQ(process_state(engine) == 'T', c.engine) << "engine state " << process_state(engine);

    run.send(SIGCONT);
    EXPECT_TRUE(working(run));
    EXPECT_TRUE(wait_until([&] { return process_state(engine) != 'T'; }, 5));
    EXPECT_TRUE(contains(module_log(), "Module pid: " + std::to_string(run.pid()) + " continue working"));

    run.finish();
    EXPECT_EQ(run.wait(), 0) << run.err();
    const std::string stopped = "sent signal " + std::to_string(SIGTSTP) + " to the process: " + std::to_string(engine);
    const std::string continued =
        "sent signal " + std::to_string(SIGCONT) + " to the process: " + std::to_string(engine);
    EXPECT_EQ(contains(run.out(), stopped), c.engine) << run.out();
    EXPECT_EQ(contains(run.out(), continued), c.engine) << run.out();
}

INSTANTIATE_TEST_SUITE_P(Engines, Pause,
                         ::testing::Values(PauseCase{"WithEngine", true}, PauseCase{"WithoutEngine", false}),
                         [](const ::testing::TestParamInfo<PauseCase>& info) { return std::string(info.param.name); });

TEST(PauseSignals, ContinueWithoutStopIsForwardedAndChangesNothing)
{
    KEVRA_REQUIRE_SANDBOX();
    ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"}, {"KEVRA_TEST_ENGINE", "1"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    run.send(SIGCONT);
    EXPECT_TRUE(wait_until([&] { return contains(module_log(), " continue working"); }, 5));
    EXPECT_TRUE(working(run));
    run.finish();
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(contains(run.out(), "sent signal " + std::to_string(SIGCONT) + " to the process: " +
                                        std::to_string(run.child())));
    EXPECT_FALSE(contains(module_log(), " put on pause"));
}

TEST(PauseSignals, ContinueRightAfterStopDoesNotLeaveTheModulePaused)
{
    KEVRA_REQUIRE_SANDBOX();
    ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"}, {"KEVRA_TEST_ENGINE", "1"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    for (int round = 0; round < 5; ++round) {
        run.send(SIGTSTP);
        run.send(SIGCONT);
        EXPECT_TRUE(working(run)) << "round " << round;
    }
    run.finish();
    EXPECT_EQ(run.wait(), 0);
}

TEST(PauseSignals, TerminationEndsAPausedModule)
{
    KEVRA_REQUIRE_SANDBOX();
    ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"}, {"KEVRA_TEST_ENGINE", "1"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    const pid_t engine = run.child();
    run.send(SIGTSTP);
    ASSERT_TRUE(wait_until([&] { return process_state(engine) == 'T'; }, 5));
    run.send(SIGTERM);
    EXPECT_EQ(run.wait(), 17);
    EXPECT_TRUE(wait_until([&] { return !lock_signal_test::process_alive(engine); }, 10));
}

class StopThenTermination : public ::testing::TestWithParam<int> {};

// A stop lands at some moment of a module that runs short commands back to
// back (inside a command's start, its read or its wait, or between them), a
// termination follows: the run ends with 17 and its clean-up, without any
// continue signal.
TEST_P(StopThenTermination, AroundCommandStartsEndsTheRunWithoutAContinue)
{
    KEVRA_REQUIRE_SANDBOX();
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    ModuleRun run({"-1", "-b", "res1", "-d", operation_dir, "-n", "arch1"},
                  {{"KEVRA_TEST_BLOCK_IN", "prepare_resource_before_backup"}, {"KEVRA_TEST_COMMAND_LOOP", "1"}});
    ASSERT_TRUE(run.wait_ready()) << "the module did not reach its blocking hook: " << run.events() << run.out()
                                  << run.err();
    const pid_t below = run.child();
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + 7 * GetParam()));
    run.send(SIGTSTP);
    std::this_thread::sleep_for(std::chrono::milliseconds(GetParam() % 3));
    run.send(SIGTERM);
    EXPECT_EQ(run.wait(15), 17) << "the stopped run did not end with 17 within 15 s\n" << run.err();
    EXPECT_TRUE(run.called("handle_shutdown_signal")) << "the clean-up did not run: " << run.events();
    EXPECT_TRUE(run.called("release_resource_after_backup")) << "the backup's resources were not released: "
                                                              << run.events();
    EXPECT_TRUE(wait_until([&] { return !lock_signal_test::process_alive(below); }, 10))
        << "the process below the module still runs";
    EXPECT_FALSE(contains(module_log(), " continue working")) << "a continue was seen, none was sent";
    EXPECT_TRUE(contains(module_log(), "Module was terminated. PID: " + std::to_string(run.pid())))
        << "no termination record\n" << module_log();
    // No lock is held any more: another process takes it at once.
    lock_signal_test::Role next("lock", {}, {}, true);
    ASSERT_EQ(next.ask("open kevra_test_module res1"), "opened");
    EXPECT_EQ(next.ask("try"), "locked") << "the run's lock is still held";
}

INSTANTIATE_TEST_SUITE_P(Moments, StopThenTermination, ::testing::Range(0, 12));

TEST(PauseSignals, StopInsideALogWriteDoesNotDeadlock)
{
    KEVRA_REQUIRE_SANDBOX();
    // SIGTSTP raised from inside a shared destination's write (its mutex and
    // the output lock held): the signal thread writes the pause record once
    // that write is done (through the trapping destination, to standard
    // output only), the module then stands still, and SIGCONT resumes it.
    ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"},
                           {"KEVRA_TEST_TRAP_SIGNAL", std::to_string(SIGTSTP)}});
    ASSERT_TRUE(wait_until([&] { return contains(run.out(), " put on pause"); }, 10)) << run.out() << run.err();
    EXPECT_LT(run.out().find("record written while the signal arrives"), run.out().find(" put on pause"))
        << "the interrupted record is not whole before the pause record\n" << run.out();
    run.send(SIGCONT);
    ASSERT_TRUE(run.wait_ready()) << run.err();
    EXPECT_TRUE(run.called("trap_record_written"));
    run.finish();
    EXPECT_EQ(run.wait(), 0);
}

}  // namespace
