// SIGTERM sent at random moments of backups and restores of the shipped
// program. Every run ends within a few seconds, with 17 (or with its normal
// status when the signal came after the run had ended), and leaves no clone,
// no created image or template, no file in the safe directory, no working
// directory and no lock behind. Each phase lasts long enough to be hit:
// cloned and created images stay LOCKED for a state query (the clone and
// image waits), the engine waits a second before it works, and the template's
// Ceph image is exported during the staging.
//
// A termination during the checksum of a large FILE image stops the checksum
// there: the run ends at once, with its clean-up.
//
// Some backups are also stopped (SIGTSTP) just before the termination and never
// continued. The loop is split into cases that run side by side; KEVRA_TERMINATION_ROUNDS
// sets the runs per case (scripts/termination-soak runs many more).
#include <gtest/gtest.h>

#include <signal.h>

#include <boost/filesystem.hpp>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/lock_signal_support.h"
#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

namespace fs = boost::filesystem;
using kevra_e2e::contains;
using lock_signal_test::Role;

// 200 backups and 100 restores in all, and 20 stopped backups.
constexpr int kBackupCases = 20;
constexpr int kRestoreCases = 10;
// Backups stopped (SIGTSTP) at a random moment and then terminated, never continued.
constexpr int kStoppedBackupCases = 2;
constexpr int kDefaultRounds = 10;
// Liveness bound from the signal to the end of the run.
constexpr double kEndWithin = 10;

int rounds()
{
    const char* value = std::getenv("KEVRA_TERMINATION_ROUNDS");
    const int parsed = value != nullptr ? std::atoi(value) : 0;
    return parsed > 0 ? parsed : kDefaultRounds;
}

// The shipped program followed by `args`.
std::vector<std::string> program_path_and(std::vector<std::string> args)
{
    args.insert(args.begin(), kevra_test::build_path("kevra_template"));
    return args;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What one run did: its exit status and whether the signal was sent before it ended.
struct Outcome {
    int status = -1;
    bool signalled = false;
    std::string out;
};

// A template "web" with a FILE image and a Ceph image; cloned and created
// images stay LOCKED for one state query, the engine waits a second.
class TerminationTest : public kevra_e2e::TemplateRestoreTest {
protected:
    void SetUp() override
    {
        TemplateRestoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        platform_.datastore({"--name", "default"});
        platform_.datastore({"--name", "ceph", "--tm-mad", "ceph"});
        const std::string os = platform_.image(
            {"--name", "web-os", "--datastore", "default", "--prefix", "vd", "--content", "web-os boot sector"});
        const std::string rbd = platform_.image({"--name", "web-rbd", "--datastore", "ceph", "--size-bytes", "70000"});
        platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + rbd});
        platform_.fixture({"config", "--lock-queries", "1"});
        platform_.fixture({"fault", "hxfd", "*", "--delay", "1"});
        templates_before_ = platform_names("templates");
        images_before_ = platform_names("images");
    }

    void expect_nothing_left() const
    {
        EXPECT_EQ(platform_names("templates"), templates_before_) << "templates left behind";
        EXPECT_EQ(platform_names("images"), images_before_) << "images left behind";
        EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{}) << "files left in the safe directory";
        const fs::path locks("/opt/kelvomar/var/kelvomar-modules");
        if (fs::exists(locks)) {
            EXPECT_EQ(tree(locks.string()), std::vector<std::string>{}) << "a lock file is left";
        }
    }

    // No working directory (and no engine file list) in `directory`; other
    // files (a snapshot file) are removed for the next run.
    void expect_no_working_directory(const std::string& directory) const
    {
        for (fs::directory_iterator it(directory), end; it != end; ++it) {
            EXPECT_FALSE(fs::is_directory(it->symlink_status())) << "left behind: " << it->path();
            EXPECT_NE(it->path().extension(), ".list") << "left behind: " << it->path();
        }
        for (fs::directory_iterator it(directory), end; it != end; ++it) {
            fs::remove_all(it->path());
        }
    }

    std::vector<std::string> templates_before_;
    std::vector<std::string> images_before_;
};

class RandomTermination : public TerminationTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        TerminationTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        const unsigned seed = static_cast<unsigned>(GetParam()) * 7919u +
                              static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
        random_.seed(seed);
        std::cout << "random seed " << seed << std::endl;
    }

    // Runs the program and sends SIGTERM after a random delay within `window`
    // seconds, unless it has ended by then; with `stop_first` a SIGTSTP comes
    // right before it (0 to 20 ms), and no SIGCONT ever.
    Outcome run_and_terminate(const std::vector<std::string>& argv, double window, bool stop_first = false)
    {
        Outcome outcome;
        Role run(argv, {});
        const double delay = std::uniform_real_distribution<double>(0.0, window)(random_);
        if (!run.ended_within(delay)) {
            if (stop_first) {
                ::kill(run.pid(), SIGTSTP);
                std::this_thread::sleep_for(
                    std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random_)));
            }
            ::kill(run.pid(), SIGTERM);
            outcome.signalled = true;
            const auto sent = std::chrono::steady_clock::now();
            EXPECT_TRUE(run.ended_within(kEndWithin))
                << "the run did not end within " << kEndWithin << " s after the signal (sent after " << delay
                << " s)";
            EXPECT_LT(seconds_since(sent), kEndWithin) << "time from the signal to the end of the run";
        }
        outcome.status = run.wait(0);
        outcome.out = run.out();
        return outcome;
    }

    // 17 for a terminated run; the normal status 0 only with the run's
    // completion record, when the signal came after the run had ended.
    void expect_status(const Outcome& outcome, const std::string& completed) const
    {
        if (outcome.status == 17) {
            EXPECT_TRUE(outcome.signalled) << "exit status 17 without a signal";
            EXPECT_TRUE(contains(outcome.out, "Module was terminated. PID: ")) << "no termination record\n"
                                                                                 << outcome.out;
            return;
        }
        EXPECT_TRUE(outcome.status == 0 || (outcome.signalled && outcome.status == 128 + SIGTERM))
            << "exit status " << outcome.status << "\n"
            << outcome.out;
        // A signal in the first milliseconds, before the program has taken
        // over its signals, ends it by the signal before it made anything: it
        // has not begun its operation then.
        if (outcome.status == 128 + SIGTERM && !contains(outcome.out, "MODULE PID:")) {
            return;
        }
        EXPECT_TRUE(contains(outcome.out, completed)) << "a run that was not terminated did not complete\n"
                                                      << outcome.out;
    }

    std::mt19937 random_;
};

class RandomBackupTermination : public RandomTermination {};
class RandomStoppedBackupTermination : public RandomTermination {};
class RandomRestoreTermination : public RandomTermination {};

TEST_P(RandomBackupTermination, EveryRunEndsWithSeventeenAndLeavesNothing)
{
    const std::vector<std::string> backup =
        program_path_and({"-1", "-b", "web", "-d", op_dir_, "-n", "bk1", "-m", kServer, "-T", kTask});
    // A whole backup, for the window of the random moments.
    const auto start = std::chrono::steady_clock::now();
    const auto reference = kevra_test::run_program(backup);
    ASSERT_EQ(reference.exit_status, 0) << "the reference backup failed\n" << reference.out << reference.err;
    const double window = seconds_since(start) * 1.1;
    expect_no_working_directory(op_dir_);

    for (int round = 0; round < rounds() && !HasFailure(); ++round) {
        SCOPED_TRACE("backup " + std::to_string(round));
        const Outcome outcome = run_and_terminate(backup, window);
        expect_status(outcome, "completed successfully");
        expect_nothing_left();
        expect_no_working_directory(op_dir_);
    }
}

// The stop lands anywhere (a command's start among the places), the
// termination follows: 17, nothing left, without a continue. The moments stay
// well inside the run: a stop after the run has put back the default
// dispositions would stop the process for good, as it should.
TEST_P(RandomStoppedBackupTermination, EveryRunEndsWithSeventeenAndLeavesNothing)
{
    const std::vector<std::string> backup =
        program_path_and({"-1", "-b", "web", "-d", op_dir_, "-n", "bk1", "-m", kServer, "-T", kTask});
    const auto start = std::chrono::steady_clock::now();
    const auto reference = kevra_test::run_program(backup);
    ASSERT_EQ(reference.exit_status, 0) << "the reference backup failed\n" << reference.out << reference.err;
    const double window = seconds_since(start) * 0.7;
    expect_no_working_directory(op_dir_);

    for (int round = 0; round < rounds() && !HasFailure(); ++round) {
        SCOPED_TRACE("stopped backup " + std::to_string(round));
        const Outcome outcome = run_and_terminate(backup, window, true);
        if (outcome.signalled) {
            EXPECT_EQ(outcome.status, 17) << "exit status of a stopped and terminated run\n" << outcome.out;
        }
        expect_status(outcome, "completed successfully");
        expect_nothing_left();
        expect_no_working_directory(op_dir_);
    }
}

TEST_P(RandomRestoreTermination, EveryRunEndsWithSeventeenAndLeavesNothing)
{
    back_up("web");
    // A whole restore, for the window of the random moments; what it made goes again.
    const auto start = std::chrono::steady_clock::now();
    const auto reference = run_module(restore_arguments());
    ASSERT_EQ(reference.exit_status, 0) << "the reference restore failed\n" << reference.out << log();
    const double window = seconds_since(start) * 1.1;
    const auto remove_restored = [this] {
        platform_.shell("/usr/bin/onetemplate delete web-2 --recursive");
    };
    remove_restored();
    ASSERT_EQ(platform_names("images"), images_before_) << "the reference restore's images were not removed";
    expect_no_working_directory(restore_dir_);

    for (int round = 0; round < rounds() && !HasFailure(); ++round) {
        SCOPED_TRACE("restore " + std::to_string(round));
        const Outcome outcome = run_and_terminate(program_path_and(restore_arguments()), window);
        expect_status(outcome, "has been created successfully");
        if (outcome.status != 17) {
            remove_restored();
        }
        expect_nothing_left();
        expect_no_working_directory(restore_dir_);
    }
}

// A restore terminated while it waits for a new image that stays LOCKED:
// the image made before it and the one it waits for are deleted, the file
// handed to the platform leaves the safe directory, and no working directory
// stays.
TEST_F(TerminationTest, RestoreWaitingForAnImageRemovesWhatItMade)
{
    back_up("web");
    platform_.fixture({"fault", "image-fate", "--name-glob", "web-2-disk-1", "--stuck-locked"});
    Role run(program_path_and(restore_arguments()), {});
    ASSERT_TRUE(lock_signal_test::wait_until(
        [&] { return contains(log(), "Trying to restore the image: web-2-disk-1"); }, 60))
        << log();
    ASSERT_TRUE(lock_signal_test::wait_until(
        [&] { return contains(platform_.fixture({"list", "images"}), "web-2-disk-1"); }, 20))
        << "the image web-2-disk-1 was not created";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a few state queries later
    ASSERT_FALSE(tree("/var/tmp").empty()) << "the file handed to the platform";

    ::kill(run.pid(), SIGTERM);
    EXPECT_EQ(run.wait(kEndWithin), 17) << "exit status\n" << run.out() << run.err();
    EXPECT_TRUE(contains(log(), "Module was terminated. PID: " + std::to_string(run.pid())))
        << "no termination record\n" << log();
    expect_nothing_left();
    for (fs::directory_iterator it(restore_dir_), end; it != end; ++it) {
        EXPECT_FALSE(fs::is_directory(it->symlink_status())) << "left behind: " << it->path();
    }
}

// The bytes that process `pid` has read so far (rchar of /proc/<pid>/io), or -1.
long long bytes_read(pid_t pid)
{
    const std::string io = lock_signal_test::read_file("/proc/" + std::to_string(pid) + "/io");
    const std::size_t at = io.find("rchar: ");
    return at == std::string::npos ? -1 : std::atoll(io.c_str() + at + 7);
}

// The platform commands run so far, one line each.
std::string platform_calls()
{
    const char* state = std::getenv("KEVRA_PLATFORM_STATE");
    return lock_signal_test::read_file(std::string(state != nullptr ? state : "") + "/calls/all.log");
}

// A backup of a template whose FILE image holds 4 GiB (a hole), terminated
// while the program reads an image for its checksum: the checksum stops there,
// so the clean-up's first platform command starts within 3 seconds of the
// signal, the processes below the module ended first on a busy machine
// (reading the rest of the image would take longer); the run ends with 17, the
// clone and its image are deleted, no working directory and no lock stay.
TEST_F(TerminationTest, ChecksumOfALargeImageStopsAtTheSignal)
{
    const std::string image = platform_.image({"--name", "big-os", "--datastore", "default", "--size-mb", "4096",
                                               "--sparse"});
    platform_.vm_template({"--name", "big", "--disk", "IMAGE_ID=" + image});
    templates_before_ = platform_names("templates");
    images_before_ = platform_names("images");
    Role run(program_path_and({"-1", "-b", "big", "-d", op_dir_, "-n", "bk1", "-m", kServer, "-T", kTask}), {});

    // Past 256 MiB the program reads nothing but an image for its checksum.
    constexpr long long kWellInto = 256ll << 20;
    ASSERT_TRUE(lock_signal_test::wait_until([&] { return bytes_read(run.pid()) > kWellInto; }, 90))
        << "the checksum did not start; the program read " << bytes_read(run.pid()) << " bytes\n"
        << log();
    ASSERT_TRUE(contains(log(), "determining unique signature for the image source: ")) << log();
    ASSERT_TRUE(contains(platform_.fixture({"list", "templates"}), "bk1")) << "the clone exists";

    const std::size_t calls_before = platform_calls().size();
    ::kill(run.pid(), SIGTERM);
    const auto sent = std::chrono::steady_clock::now();
    // The worker makes no call while it reads: a new call is the clean-up's.
    EXPECT_TRUE(lock_signal_test::wait_until([&] { return platform_calls().size() > calls_before; }, 3.0))
        << "the clean-up did not begin within 3 s of the signal";
    EXPECT_EQ(run.wait(kEndWithin), 17) << run.out() << run.err();
    EXPECT_LT(seconds_since(sent), kEndWithin);
    EXPECT_TRUE(contains(run.out(), "Module was terminated. PID: " + std::to_string(run.pid()))) << run.out();
    expect_nothing_left();
    expect_no_working_directory(op_dir_);
}

INSTANTIATE_TEST_SUITE_P(Cases, RandomBackupTermination, ::testing::Range(0, kBackupCases));
INSTANTIATE_TEST_SUITE_P(Cases, RandomRestoreTermination, ::testing::Range(0, kRestoreCases));
INSTANTIATE_TEST_SUITE_P(Cases, RandomStoppedBackupTermination, ::testing::Range(0, kStoppedBackupCases));

}  // namespace
