// Signals sent to the shipped program during a template backup: a termination
// while the clone's image stays LOCKED or while the engine runs ends the run
// with 17 and leaves no clone and no lock; a segmentation fault ends the
// engine before the run ends with 17; stop and continue reach the engine and
// the backup then completes; a clean-up stuck past its deadline leaves no
// process behind and names what stays; stops and continues all through a
// backup split no line of its output or log.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <cstdlib>
#include <regex>
#include <sstream>
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
        ASSERT_TRUE(wait_until([&] { return contains(run.out(), "HXFD PID: "); }, 90)) << run.out() << run.err();
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
    // A generous bound: the staging before the engine is slow on a busy machine.
    ASSERT_TRUE(wait_until([&] { return contains(run.out(), "HXFD PID: "); }, 90)) << run.out() << run.err();

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

// The IDs of the platform's images whose name starts with `prefix`.
std::vector<std::string> image_ids(const std::string& listing, const std::string& prefix)
{
    std::vector<std::string> ids;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos && line.compare(tab + 1, prefix.size(), prefix) == 0) {
            ids.push_back(line.substr(0, tab));
        }
    }
    return ids;
}

TEST_F(TemplateSignals, CleanUpPastItsDeadlineEndsItsCommandAndNamesWhatStays)
{
    KEVRA_REQUIRE_SANDBOX();
    platform_.fixture({"fault", "hxfd", "backup", "--times", "1", "--delay", "30"});
    // The clone's delete does its work, then never answers.
    platform_.fixture({"fault", "onetemplate", "delete", "--hang", "600"});
    Role run(backup("bk1"), {});
    ASSERT_TRUE(wait_until([&] { return contains(run.out(), "HXFD PID: "); }, 90)) << run.out() << run.err();
    const std::vector<std::string> images = image_ids(listing("images"), "bk1");
    ASSERT_FALSE(images.empty()) << listing("images");

    ::kill(run.pid(), SIGTERM);
    // The deadline of the clean-up is 60 seconds.
    ASSERT_EQ(run.wait(120), 17) << run.out() << run.err();
    const char* state = std::getenv("KEVRA_PLATFORM_STATE");
    ASSERT_NE(state, nullptr);
    // Whatever the run started (the engine, the hanging delete and its shell)
    // carries the platform's state directory in its environment.
    const std::vector<pid_t> left = lock_signal_test::processes_with_environment(
        std::string("KEVRA_PLATFORM_STATE=") + state);
    EXPECT_TRUE(left.empty()) << left.size() << " processes of the run outlived it, the first " << left.front();
    for (const pid_t pid : left) {
        ::kill(pid, SIGKILL);
    }

    const std::string err = run.err();
    EXPECT_TRUE(contains(err, "Error: Module termination clean-up did not end in time: the command "
                              "'/usr/bin/onetemplate delete ")) << err;
    EXPECT_TRUE(contains(err, " --recursive' was ended; the module ends without it. Left behind: ")) << err;
    for (const std::string& id : images) {
        EXPECT_TRUE(contains(err, "ID " + id)) << "the clone's image " << id << " is not named\n" << err;
    }
    const std::string log = module_log();
    const std::string terminated = "Module was terminated. PID: " + std::to_string(run.pid());
    EXPECT_TRUE(contains(run.out(), terminated)) << run.out();
    const std::size_t deadline_at = log.find("Module termination clean-up did not end in time");
    ASSERT_NE(deadline_at, std::string::npos) << log;
    EXPECT_NE(log.find(terminated, deadline_at), std::string::npos) << "no termination record after the deadline's\n"
                                                                    << log;
}

// Every line is a whole record ("[stamp] Level: text", coloured or not) or
// one of the protocol lines of a backup; the records stand in the order of
// their stamps. Returns the faults found, empty when there are none.
std::string line_faults(const std::string& text)
{
    static const std::regex record(
        R"(^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\] (\x1b\[1;3[13]m|\x1b\[1;97m)?(Error|Warning|Info|Debug): .*)");
    static const std::regex protocol(
        R"(^(MODULE PID:\d+|HXFD PID: \d+|Packed: .*|Transferred: .*|Unpacked: .*|MAIN ARCHIVE FILENAME:.*|)"
        R"(MAIN SNAPSHOT FILENAME:.*|MAIN ARCHIVE SIGN FILENAME:.*|SET BACKUP TYPE TO FULL|)"
        R"(sent signal \d+ to the process: \d+|PID was terminated: \d+))");
    std::string faults;
    std::string last_stamp;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, record)) {
            if (match[1].str() < last_stamp) {
                faults += "out of order: " + line + "\n";
            }
            last_stamp = match[1].str();
        } else if (!line.empty() && !std::regex_match(line, protocol)) {
            // (An empty line ends a record whose value ended with a line feed.)
            faults += "not a whole line: " + line + "\n";
        }
    }
    if (!text.empty() && text.back() != '\n') {
        faults += "no line end at the end\n";
    }
    return faults;
}

class PausedThroughout : public TemplateSignals, public ::testing::WithParamInterface<bool> {};

TEST_P(PausedThroughout, EveryLineIsWholeAndTheRecordsInOrder)
{
    KEVRA_REQUIRE_SANDBOX();
    const bool to_pipe = GetParam();
    // About ten seconds of engine work, most of the run.
    platform_.fixture({"fault", "hxfd", "backup", "--times", "1", "--delay", "10"});
    const std::size_t log_before = module_log().size();
    std::unique_ptr<Role> run = to_pipe ? std::make_unique<Role>(backup("bk1"), std::map<std::string, std::string>{},
                                                                 Role::piped_stdout{})
                                        : std::make_unique<Role>(backup("bk1"), std::map<std::string, std::string>{});
    std::string piped;
    std::thread reader;
    if (to_pipe) {
        reader = std::thread([&] { piped = run->drain(120); });
    }
    // A stop, and a continue a tenth of a second later, every half second
    // until the run ends (within five minutes).
    int pauses = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!run->ended_within(0.4) && std::chrono::steady_clock::now() < until) {
        ::kill(run->pid(), SIGTSTP);
        ++pauses;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(run->pid(), SIGCONT);
    }
    const int status = run->wait(1);  // ends a run that did not end
    if (reader.joinable()) {
        reader.join();
    }
    const std::string out = to_pipe ? piped : run->out();
    EXPECT_EQ(status, 0) << out << run->err();
    EXPECT_GT(pauses, 20) << "the run was too short to be paused often";
    EXPECT_TRUE(contains(out, " put on pause")) << out;
    EXPECT_TRUE(contains(out, " continue working")) << out;
    EXPECT_TRUE(contains(out, "MAIN ARCHIVE FILENAME:")) << out;
    EXPECT_EQ(line_faults(out), "") << out;
    EXPECT_EQ(line_faults(module_log().substr(log_before)), "") << module_log().substr(log_before);
}

INSTANTIATE_TEST_SUITE_P(StandardOutput, PausedThroughout, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ToAPipe" : "ToAFile");
                         });

}  // namespace
