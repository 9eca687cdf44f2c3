// The hand-over between the worker and a termination: once it has begun the
// worker starts no command and stops at its next safe point, a command that
// names what it made is given a bounded grace and then ended, a sleeping
// worker stops at once, a worker held up anywhere (as by a pause) never holds
// up the termination, and after the worker has closed no termination begins.
// Ending the processes below leaves nothing living there: not a parent that
// ignores the request and starts its child anew, nor a process that an ended
// command left behind. Each case runs in a process of its own (a termination is for good); every
// check that fails there writes its own line, which the failure shows.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <boost/filesystem.hpp>

#include "common/descendant_processes.h"
#include "common/hx_utils_common.h"
#include "common/run_processes.h"
#include "common/termination.h"
#include "tests/support/process_stat.h"

namespace {

namespace fs = boost::filesystem;
namespace termination = kelvomar::termination;
using std::chrono::milliseconds;

// Polls `ready` every 10 ms for up to five seconds.
template <typename Ready>
bool within_five_seconds(Ready ready)
{
    for (int i = 0; i < 500 && !ready(); ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    return ready();
}

std::string scratch_file(const char* name)
{
    return (fs::temp_directory_path() / fs::unique_path(std::string(name) + "-%%%%%%%%")).string();
}

// The checks of a case in its own process: each failed one writes its line
// to standard error, and the process ends with 1 when any failed.
std::atomic<int> g_failed_checks{0};

void check(bool held, const char* what)
{
    if (!held) {
        const std::string line = std::string("check failed: ") + what + "\n";
        const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
        (void)ignored;
        ++g_failed_checks;
    }
}

[[noreturn]] void end_case()
{
    ::_exit(g_failed_checks.load() == 0 ? 0 : 1);
}

// A case that waits for ever ends with its own line.
void case_took_too_long(int)
{
    const char line[] = "check failed: the case ended within 30 s (something waits for ever)\n";
    const ssize_t ignored = ::write(STDERR_FILENO, line, sizeof line - 1);
    (void)ignored;
    ::_exit(1);
}

// Runs `scenario` in a fresh process; the failure message lists the checks that failed.
template <typename Scenario>
void in_own_process(Scenario scenario)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::signal(SIGALRM, &case_took_too_long);
            ::alarm(30);
            scenario();
            end_case();
        },
        ::testing::ExitedWithCode(0), "");
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(TerminationHandOver, WorkerStartsNoCommandOnceATerminationHasBegun)
{
    in_own_process([] {
        const std::string marker = scratch_file("not-made");
        std::atomic<bool> registered{false}, go{false}, returned{false};
        std::thread worker([&] {
            termination::register_worker();
            registered = true;
            while (!go) {
                std::this_thread::sleep_for(milliseconds(1));
            }
            std::string output;
            hx_utils_common::execute_command("touch " + marker, output);
            returned = true;
        });
        worker.detach();
        check(within_five_seconds([&] { return registered.load(); }), "the worker registered");
        check(termination::begin(), "the first begin() begins the termination");
        go = true;
        termination::wait_for_worker(milliseconds(5000));
        check(!returned, "the worker's command call never returned");
        check(!fs::exists(marker), "the worker's command never ran");
        check(!termination::begin(), "a second begin() does not begin another termination");
    });
}

TEST(TerminationHandOver, NamingCommandThatEndsWithinTheGraceHasItsOutputTakenIn)
{
    in_own_process([] {
        const std::string made = scratch_file("made");
        const std::string running = scratch_file("running");
        std::atomic<bool> output_taken{false}, returned_again{false};
        std::thread worker([&] {
            termination::register_worker();
            std::string output;
            {
                const termination::uninterrupted creation;
                hx_utils_common::execute_command("touch " + running + "; sleep 0.3; touch " + made + "; echo ID: 7",
                                                 output);
            }
            output_taken = output.find("ID: 7") != std::string::npos;
            termination::safe_point();
            returned_again = true;
        });
        worker.detach();
        check(within_five_seconds([&] { return fs::exists(running); }), "the worker started its command");
        termination::begin();
        check(termination::wait_for_uninterrupted(milliseconds(5000)), "the command ended within the grace");
        check(fs::exists(made), "the command was let finish its work");
        termination::wait_for_worker(milliseconds(5000));
        check(output_taken, "the worker took in the command's output");
        check(!returned_again, "the worker stopped at its next safe point");
        fs::remove(made);
        fs::remove(running);
    });
}

TEST(TerminationHandOver, NamingCommandThatHangsIsEndedAfterTheGrace)
{
    in_own_process([] {
        std::atomic<bool> started{false}, returned{false};
        std::thread worker([&] {
            termination::register_worker();
            std::string output;
            {
                const termination::uninterrupted creation;
                started = true;
                hx_utils_common::execute_command("sleep 60 && echo ID: 7", output);
            }
            termination::safe_point();
            returned = true;
        });
        worker.detach();
        check(within_five_seconds([&] { return started.load(); }), "the worker started its command");
        std::this_thread::sleep_for(milliseconds(100));
        const auto start = std::chrono::steady_clock::now();
        termination::begin();
        check(!termination::wait_for_uninterrupted(milliseconds(300)), "the grace ran out with the command running");
        termination::end_child_processes();
        termination::wait_for_worker(milliseconds(5000));
        check(seconds_since(start) < 10, "the hung command was ended (within 10 s)");
        check(!returned, "the worker stopped at its next safe point");
    });
}

TEST(TerminationHandOver, SleepingWorkerStopsAtOnce)
{
    in_own_process([] {
        std::atomic<bool> sleeping{false}, woke{false};
        std::thread worker([&] {
            termination::register_worker();
            sleeping = true;
            termination::sleep_for(milliseconds(60000));
            woke = true;
        });
        worker.detach();
        check(within_five_seconds([&] { return sleeping.load(); }), "the worker went to sleep");
        const auto start = std::chrono::steady_clock::now();
        termination::begin();
        termination::wait_for_worker(milliseconds(30000));
        check(seconds_since(start) < 5, "the sleeping worker stopped within 5 s");
        check(!woke, "the sleep never returned");
    });
}

// A handler that holds the thread it lands on, wherever it is (as the pause
// of a stop signal does), until a termination has begun.
void hold_until_termination(int)
{
    while (!termination::begun()) {
        struct timespec tenth {0, 100000000};
        ::nanosleep(&tenth, nullptr);
    }
}

class HeldWorker : public ::testing::TestWithParam<int> {};

// The worker runs short commands back to back and is held at a random moment
// (inside a command's start, its read, its wait, or the bookkeeping between):
// the termination neither waits for it nor leaves it held, and it stops.
TEST_P(HeldWorker, NeverHoldsUpTheTermination)
{
    const int moment_ms = GetParam() * 5;
    in_own_process([moment_ms] {
        struct sigaction action {};
        action.sa_handler = &hold_until_termination;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGUSR1, &action, nullptr);
        std::atomic<long> commands{0};
        std::atomic<bool> registered{false};
        pthread_t worker_thread{};
        std::thread worker([&] {
            termination::register_worker();
            registered = true;
            for (;;) {
                std::string output;
                hx_utils_common::execute_command("true", output);
                ++commands;
            }
        });
        worker_thread = worker.native_handle();
        worker.detach();
        check(within_five_seconds([&] { return registered.load() && commands.load() > 3; }),
              "the worker runs commands");
        std::this_thread::sleep_for(milliseconds(moment_ms));
        ::pthread_kill(worker_thread, SIGUSR1);
        std::this_thread::sleep_for(milliseconds(20));
        const auto start = std::chrono::steady_clock::now();
        check(termination::begin(), "the termination begins while the worker is held");
        termination::wait_for_uninterrupted(milliseconds(2000));
        termination::end_child_processes();
        termination::wait_for_worker(milliseconds(3000));
        check(seconds_since(start) < 10, "the termination took over from the held worker within 10 s");
        const long after = commands.load();
        std::this_thread::sleep_for(milliseconds(200));
        check(commands.load() == after, "the worker runs no more commands");
    });
}

INSTANTIATE_TEST_SUITE_P(Moments, HeldWorker, ::testing::Range(0, 8));

using kevra_test::stat_of;

bool living(pid_t pid)
{
    const char state = stat_of(pid).state;
    return state != '?' && state != 'Z' && state != 'X';
}

std::size_t living_below()
{
    hx_utils_common::descendant_process found[hx_utils_common::kMaxDescendants];
    return hx_utils_common::find_descendants(::getpid(), found, hx_utils_common::kMaxDescendants);
}

struct BelowCase {
    const char* name;
    // The worker's commands: the first may print a process id that it leaves
    // behind; the second is the command that runs at the termination.
    const char* first;
    const char* second;
};

std::ostream& operator<<(std::ostream& out, const BelowCase& c) { return out << c.name; }

class EndedBelow : public ::testing::TestWithParam<BelowCase> {};

TEST_P(EndedBelow, NothingLivesBelowAfterwards)
{
    const BelowCase c = GetParam();
    in_own_process([c] {
        check(kelvomar::run_processes::keep_below(), "the process keeps what its commands leave below it");
        std::atomic<pid_t> left{0};
        std::atomic<bool> second_started{false};
        std::thread worker([&] {
            termination::register_worker();
            std::string output;
            hx_utils_common::execute_command(c.first, output);
            left = static_cast<pid_t>(std::atol(output.c_str()));
            second_started = true;
            hx_utils_common::execute_command(c.second, output);
        });
        worker.detach();
        check(within_five_seconds([&] { return second_started.load() && living_below() >= 2; }),
              "the commands run below the process");
        if (left > 0) {
            check(stat_of(left).parent == ::getpid(), "the process left behind became this process's child");
        }
        std::this_thread::sleep_for(milliseconds(300));
        termination::begin();
        termination::end_child_processes();
        check(living_below() == 0, "nothing lives below the process any more");
        check(left == 0 || !living(left), "the process left behind was ended");
        // A failed case leaves nothing running that would hold up the test.
        hx_utils_common::end_descendants(::getpid(), 100);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Trees, EndedBelow,
    ::testing::Values(
        // The shell ignores SIGTERM (its child inherits that) and starts the
        // child anew whenever it ends: ending the leaves alone never ends it.
        BelowCase{"ParentThatIgnoresTheRequestAndStartsItsChildAnew", "true",
                  "trap '' TERM; while :; do sleep 60; done"},
        // A command that has ended left a process running in the background.
        BelowCase{"ProcessThatAnEndedCommandLeftRunning", "sleep 60 </dev/null >/dev/null 2>&1 & echo $!",
                  "sleep 60"}),
    [](const ::testing::TestParamInfo<BelowCase>& info) { return std::string(info.param.name); });

TEST(TerminationHandOver, NoTerminationBeginsAfterTheWorkerClosed)
{
    in_own_process([] {
        termination::register_worker();
        termination::close_worker();
        std::string output;
        check(hx_utils_common::execute_command("true", output) == 0, "a command still runs after the close");
        check(!termination::begin(), "begin() after the close begins nothing");
        check(!termination::begun(), "no termination counts as begun");
    });
}

TEST(TerminationHandOver, OnlyAnEndBySignalAfterTheBeginCanComeFromTheTermination)
{
    in_own_process([] {
        check(!termination::ended_by_termination(128 + SIGTERM), "before a termination: the command's own end");
        termination::begin();
        check(termination::ended_by_termination(128 + SIGTERM), "SIGTERM after the begin");
        check(termination::ended_by_termination(128 + SIGKILL), "SIGKILL after the begin");
        check(!termination::ended_by_termination(255), "a platform tool's own failure status");
        check(!termination::ended_by_termination(0), "success");
    });
}

}  // namespace
