// A termination of a module whose standard output nobody reads (the pipe to
// the agent is full): whatever the worker or the signal thread was writing,
// the run ends with 17 well within its deadline, its processes ended, and the
// log file keeps the termination record. A segmentation fault of the thread
// that watches for signals ends the run in the same way.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "modules/hx_module_signal_handler.h"
#include "tests/e2e/lock_signal_support.h"
#include "tests/support/sandbox_guard.h"

namespace {

using lock_signal_test::ModuleRun;
using lock_signal_test::module_log;
using lock_signal_test::process_alive;
using lock_signal_test::wait_until;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The deadline of a termination plus a generous margin for a shared machine.
constexpr double kEndBound = HxModuleSignalHandler::kDefaultShutdownTimeLimit + 30;

struct StalledCase {
    const char* name;
    bool worker_writes;  // the worker writes records all the time (it then waits inside a write)
    bool stop_first;     // SIGTSTP before SIGTERM
};

std::ostream& operator<<(std::ostream& out, const StalledCase& c) { return out << c.name; }

class StalledStandardOutput : public ::testing::TestWithParam<StalledCase> {};

TEST_P(StalledStandardOutput, TerminationEndsWithSeventeenAndItsRecordInTheLog)
{
    KEVRA_REQUIRE_SANDBOX();
    const StalledCase& c = GetParam();
    const std::string operation_dir = lock_signal_test::scratch_dir("op");
    std::map<std::string, std::string> environment{{"KEVRA_TEST_BLOCK_IN", "prepare_resource_before_backup"},
                                                   {"KEVRA_TEST_ENGINE", "1"}};
    if (c.worker_writes) {
        environment["KEVRA_TEST_RECORD_LOOP"] = "1";
    }
    ModuleRun run({"-1", "-b", "res1", "-d", operation_dir, "-n", "arch1"}, environment, true);
    ASSERT_TRUE(run.wait_ready()) << run.err();
    const pid_t below = run.child();
    ASSERT_TRUE(lock_signal_test::fill_stdout_pipe(run.pid())) << "standard output is not a pipe";
    if (c.worker_writes) {
        // The worker's next record waits for the reader, holding the output lock.
        ASSERT_TRUE(wait_until(
            [&] {
                const long ticks = run.ticks();
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                return run.ticks() == ticks;
            },
            10))
            << "the worker still works";
    }
    if (c.stop_first) {
        run.send(SIGTSTP);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    const auto sent = std::chrono::steady_clock::now();
    run.send(SIGTERM);
    EXPECT_EQ(run.wait(kEndBound), 17) << "the run did not end with 17\n" << run.err() << module_log();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    EXPECT_LT(took, kEndBound) << "the termination took " << took << " s";
    EXPECT_TRUE(wait_until([&] { return !process_alive(below); }, 10)) << "the process below the module still runs";
    ::kill(below, SIGKILL);
    EXPECT_TRUE(run.called("release_resource_after_backup")) << "the clean-up did not run: " << run.events();
    const std::string log = module_log();
    EXPECT_TRUE(contains(log, "Module was terminated. PID: " + std::to_string(run.pid()))) << log;
    EXPECT_TRUE(contains(log, "Error: Standard output was not read for ")) << "no record of the stalled stream\n"
                                                                           << log;
    EXPECT_FALSE(contains(run.err(), "did not end in time")) << "the deadline had to end the run\n" << run.err();
}

INSTANTIATE_TEST_SUITE_P(
    Writers, StalledStandardOutput,
    ::testing::Values(StalledCase{"NothingWrittenAtTheSignal", false, false},
                      StalledCase{"WorkerWaitingInsideAWrite", true, false},
                      StalledCase{"StopThenTerminationWhileTheWorkerWaitsInsideAWrite", true, true},
                      StalledCase{"StopThenTerminationWhileIdle", false, true}),
    [](const ::testing::TestParamInfo<StalledCase>& info) { return std::string(info.param.name); });

// The threads of process `pid` other than its main thread.
std::vector<pid_t> other_threads(pid_t pid)
{
    std::vector<pid_t> found;
    DIR* tasks = ::opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (tasks == nullptr) {
        return found;
    }
    while (const struct dirent* entry = ::readdir(tasks)) {
        const std::string name = entry->d_name;
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos && name != std::to_string(pid)) {
            found.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    ::closedir(tasks);
    return found;
}

TEST(SignalThreadFault, EndsTheProcessesBelowAndExitsSeventeenWithItsRecord)
{
    KEVRA_REQUIRE_SANDBOX();
    ModuleRun run({"-t"}, {{"KEVRA_TEST_BLOCK_IN", "check_client"}, {"KEVRA_TEST_ENGINE", "1"}});
    ASSERT_TRUE(run.wait_ready()) << run.err();
    const pid_t below = run.child();
    const std::vector<pid_t> threads = other_threads(run.pid());
    ASSERT_EQ(threads.size(), 1u) << "the module runs the worker and the signal thread only";
    // A fault of that thread itself: the signal is its own, not the process's.
    ASSERT_EQ(::syscall(SYS_tgkill, run.pid(), threads[0], SIGSEGV), 0);
    EXPECT_EQ(run.wait(30), 17) << run.err();
    EXPECT_FALSE(process_alive(below)) << "the process below the module outlived it";
    ::kill(below, SIGKILL);
    EXPECT_FALSE(run.called("handle_shutdown_signal")) << "no clean-up runs after a fault";
    EXPECT_TRUE(contains(module_log(), "Module was terminated. PID: " + std::to_string(run.pid()))) << module_log();
}

}  // namespace
