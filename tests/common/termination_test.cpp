// The hand-over between the worker and a termination: once it has begun the
// worker starts no command and stops at its next safe point, a command that
// makes an object is let finish first, a sleeping worker stops at once, and
// after the worker has closed no termination begins. Each case runs in a
// process of its own: a termination is for good.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <boost/filesystem.hpp>

#include "common/hx_utils_common.h"
#include "common/termination.h"

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

// Runs `scenario` in a fresh process; it ends that process with 0 when all held.
template <typename Scenario>
void in_own_process(Scenario scenario)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            scenario();
            ::_exit(0);
        },
        ::testing::ExitedWithCode(0), "");
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
        if (!within_five_seconds([&] { return registered.load(); }) || !termination::begin()) {
            ::_exit(1);
        }
        go = true;
        termination::wait_for_worker(milliseconds(5000));
        ::_exit(!returned && !fs::exists(marker) && !termination::begin() ? 0 : 2);
    });
}

TEST(TerminationHandOver, CommandThatMakesAnObjectIsLetFinishAndItsOutputTakenIn)
{
    in_own_process([] {
        const std::string made = scratch_file("made");
        std::atomic<bool> started{false}, output_taken{false}, returned_again{false};
        std::thread worker([&] {
            termination::register_worker();
            std::string output;
            {
                const termination::uninterrupted creation;
                started = true;
                hx_utils_common::execute_command("sleep 0.3; touch " + made + "; echo ID: 7", output);
            }
            output_taken = output.find("ID: 7") != std::string::npos;
            termination::safe_point();
            returned_again = true;
        });
        worker.detach();
        if (!within_five_seconds([&] { return started.load(); })) {
            ::_exit(1);
        }
        std::this_thread::sleep_for(milliseconds(50));
        termination::begin();
        termination::wait_for_uninterrupted();
        const bool finished = fs::exists(made);
        boost::system::error_code ignored;
        fs::remove(made, ignored);
        termination::wait_for_worker(milliseconds(5000));
        ::_exit(finished && output_taken && !returned_again ? 0 : 2);
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
        if (!within_five_seconds([&] { return sleeping.load(); })) {
            ::_exit(1);
        }
        const auto start = std::chrono::steady_clock::now();
        termination::begin();
        termination::wait_for_worker(milliseconds(30000));
        const bool quick = std::chrono::steady_clock::now() - start < std::chrono::seconds(5);
        ::_exit(quick && !woke ? 0 : 2);
    });
}

TEST(TerminationHandOver, NoTerminationBeginsAfterTheWorkerClosed)
{
    in_own_process([] {
        termination::register_worker();
        termination::close_worker();
        std::string output;
        const bool command_runs = hx_utils_common::execute_command("true", output) == 0;
        ::_exit(!termination::begin() && !termination::begun() && command_runs ? 0 : 2);
    });
}

}  // namespace
