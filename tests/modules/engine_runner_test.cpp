// The archive-engine runner, with small shell scripts standing in for the engine.
#include "modules/engine_runner.h"

#include "tests/modules/engine_test_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = boost::filesystem;

struct RunnerCase {
    const char* name;
    const char* engine;  // shell text standing in for the engine
    bool ok;
    bool data_incomplete;
    const char* output;  // unrecognised lines
    const char* result;  // rest of the last result line
    const char* echoed;  // what reached standard output
    const char* logged;  // a record that must be there, or ""
};

class EngineRunner : public ::testing::TestWithParam<RunnerCase> {};

TEST_P(EngineRunner, DecodesLinesAndTermination)
{
    const RunnerCase& c = GetParam();
    engine_test::LogCapture log;
    std::string output = "before\n";
    std::string result = "unset";
    std::atomic<pid_t> pid{77};
    bool incomplete = false;
    ::testing::internal::CaptureStdout();
    const bool ok = kelvomar::module::run_engine_command(c.engine, output, pid, result, incomplete);
    const std::string echoed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(incomplete, c.data_incomplete);
    EXPECT_EQ(output, std::string("before\n") + c.output);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(echoed, c.echoed);
    EXPECT_EQ(pid, 0) << "the engine pid is reset once the pipe has ended";
    EXPECT_THAT(log.text(), HasSubstr("run_hxfd_command(const std::string&, std::string&, pid_t&, "
                                      "std::string&):hxfd command: "));
    if (*c.logged != '\0') {
        EXPECT_THAT(log.text(), HasSubstr(c.logged));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineRunner,
    ::testing::Values(
        RunnerCase{"PidPackedOtherExit0",
                   "printf 'HXFD PID: 4711\\nPacked: 3 files, 12 MB\\nsome other line\\n'", true,
                   false, "some other line\n", "3 files, 12 MB",
                   "HXFD PID: 4711\nPacked: 3 files, 12 MB\n", "hxfd process exits with 0x0 status."},
        RunnerCase{"CarriageReturnAndLineFeedEachEndALine",
                   "printf 'a\\r\\nPacked: r\\r\\ntail without end'", true, false, "a\n\n\n", "r",
                   "Packed: r\n", ""},
        RunnerCase{"BareCarriageReturnsEndLines", "printf 'x\\ry\\rTransferred: 5\\r'", true, false,
                   "x\ny\n", "5", "Transferred: 5\n", ""},
        RunnerCase{"TextWithoutFinalLineEndIsDropped", "printf 'one\\nPacked: late'", true, false,
                   "one\n", "unset", "", ""},
        RunnerCase{"LastResultLineWins",
                   "printf 'Unpacked: a\\nTransferred: b\\n\\nPacked:x\\n'", true, false,
                   "\nPacked:x\n", "b", "Unpacked: a\nTransferred: b\n", ""},
        RunnerCase{"PrefixOnlyAtLineStart", "printf ' HXFD PID: 5\\nhxfd pid: 6\\n'", true, false,
                   " HXFD PID: 5\nhxfd pid: 6\n", "unset", "", ""},
        RunnerCase{"PidWithBlanksAndTrailingText", "printf 'HXFD PID:   42 (engine)\\n'", true,
                   false, "", "unset", "HXFD PID:   42 (engine)\n", ""},
        RunnerCase{"Exit1IsAnErrorFlag", "printf 'failed here\\n'; exit 1", false, false,
                   "failed here\n", "unset", "", "hxfd finished with an error flag"},
        RunnerCase{"Exit2FailsWithoutAFlagRecord", "exit 2", false, false, "", "unset", "",
                   "hxfd process exits with 0x2 status."},
        RunnerCase{"Exit100IsIncompleteData", "printf 'Packed: partial\\n'; exit 100", true, true,
                   "", "partial", "Packed: partial\n", "hxfd finished with a defect flag"},
        RunnerCase{"KilledBySignal9", "printf 'HXFD PID: 9\\n'; kill -9 $$", false, false, "",
                   "unset", "HXFD PID: 9\n", "hxfd process terminates with 0x9 signal."},
        RunnerCase{"KilledBySignal15", "kill -15 $$", false, false, "", "unset", "",
                   "hxfd process terminates with 0xf signal."},
        RunnerCase{"CommandNotFound", "/nonexistent/hxfd -a sha2 2>&1", false, false,
                   "sh: 1: /nonexistent/hxfd: not found\n", "unset", "",
                   "hxfd process exits with 0x7f status."},
        RunnerCase{"PidLineWithoutNumber", "printf 'HXFD PID: abc\\nPacked: never\\n'", false,
                   false, "", "unset", "", ": stoi"},
        RunnerCase{"PidLineOutOfRange", "printf 'HXFD PID: 99999999999\\n'", false, false, "",
                   "unset", "", ": stoi"}),
    [](const ::testing::TestParamInfo<RunnerCase>& info) { return info.param.name; });

TEST(EngineRunnerSignals, ExitCodeRecordsAreNotWrittenForASignal)
{
    engine_test::LogCapture log;
    std::string output, result;
    std::atomic<pid_t> pid{0};
    bool incomplete = false;
    EXPECT_FALSE(kelvomar::module::run_engine_command("kill -9 $$", output, pid, result, incomplete));
    EXPECT_THAT(log.text(), Not(HasSubstr("exits with")));
    EXPECT_THAT(log.text(), HasSubstr("hxfd process status 0x9."));
}

// The signal handling forwards stop and continue signals to the pid the runner keeps:
// it must hold the engine's pid while the engine runs.
volatile sig_atomic_t g_seen_pid = 0;
std::atomic<pid_t> g_engine_pid{0};
char g_flag_path[256];

void on_usr1(int)
{
    const pid_t engine = g_engine_pid.load();
    if (engine != 0) {
        g_seen_pid = engine;
        ::close(::open(g_flag_path, O_CREAT | O_WRONLY, 0600));
    }
}

TEST(EngineRunnerSignals, PidIsKnownWhileTheEngineRuns)
{
    engine_test::LogCapture log;
    const fs::path flag = fs::temp_directory_path() / fs::unique_path("kevra-engine-pid-%%%%%%%%");
    std::snprintf(g_flag_path, sizeof g_flag_path, "%s", flag.c_str());
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = on_usr1;
    ::sigaction(SIGUSR1, &action, &previous);
    // The stand-in keeps signalling the test until the handler has seen the pid.
    const std::string engine = "printf 'HXFD PID: 4711\\n'; i=0; while [ ! -e '" + flag.string() +
                               "' ] && [ $i -lt 1000 ]; do kill -USR1 $PPID; sleep 0.01; "
                               "i=$((i+1)); done; printf 'Packed: done\\n'";
    std::string output, result;
    bool incomplete = false;
    ::testing::internal::CaptureStdout();
    const bool ok = kelvomar::module::run_engine_command(engine, output, g_engine_pid, result, incomplete);
    ::testing::internal::GetCapturedStdout();
    ::sigaction(SIGUSR1, &previous, nullptr);
    fs::remove(flag);
    EXPECT_TRUE(ok);
    EXPECT_EQ(g_seen_pid, 4711);
    EXPECT_EQ(g_engine_pid, 0);
    EXPECT_EQ(result, "done");
}

// A failed read still waits for the engine before anything else runs.
TEST(EngineRunnerSignals, BadPidLineStillWaitsForTheEngine)
{
    engine_test::LogCapture log;
    const fs::path done = fs::temp_directory_path() / fs::unique_path("kevra-engine-done-%%%%%%%%");
    const std::string engine =
        "printf 'HXFD PID: x\\n'; sleep 0.3; touch '" + done.string() + "'";
    std::string output, result;
    std::atomic<pid_t> pid{0};
    bool incomplete = false;
    EXPECT_FALSE(kelvomar::module::run_engine_command(engine, output, pid, result, incomplete));
    EXPECT_TRUE(fs::exists(done)) << "the runner returned before the engine had ended";
    EXPECT_THAT(log.text(), HasSubstr("run_hxfd_command(const std::string&, std::string&, pid_t&, "
                                      "std::string&): stoi"));
    fs::remove(done);
}

// The agent reads progress while the engine works: each recognised line must reach
// standard output before the engine's next line is read. The stand-in looks at what
// the test process has written so far and reports whether its line is already there.
TEST(EngineRunnerSignals, ProgressLinesAreEchoedAtOnce)
{
    engine_test::LogCapture log;
    const std::string engine =
        "printf 'HXFD PID: 31337\\n'; i=0; "
        "while ! grep -q 'HXFD PID: 31337' /proc/$PPID/fd/1 && [ $i -lt 300 ]; do sleep 0.01; i=$((i+1)); done; "
        "if grep -q 'HXFD PID: 31337' /proc/$PPID/fd/1; then echo seen; else echo late; fi";
    std::string output, result;
    std::atomic<pid_t> pid{0};
    bool incomplete = false;
    ::testing::internal::CaptureStdout();
    const bool ok = kelvomar::module::run_engine_command(engine, output, pid, result, incomplete);
    const std::string echoed = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    EXPECT_EQ(output, "seen\n");
    EXPECT_EQ(echoed, "HXFD PID: 31337\n");
}

TEST(EngineCompressWord, MapsEveryLevel)
{
    using kelvomar::module::engine_compress_word;
    EXPECT_EQ(engine_compress_word(1), "None");
    EXPECT_EQ(engine_compress_word(2), "fast");
    EXPECT_EQ(engine_compress_word(3), "optimal");
    EXPECT_EQ(engine_compress_word(4), "best");
    EXPECT_EQ(engine_compress_word(0), "Wrong or deprecated compression type: 0");
    EXPECT_EQ(engine_compress_word(7), "Wrong or deprecated compression type: 7");
}

TEST(EngineFlags, RegistrationOrderNotParameterOrder)
{
    using kelvomar::module::engine_flag_names;
    using kelvomar::module::engine_flags_argument;
    EXPECT_EQ(engine_flag_names(),
              (std::vector<std::string>{"worker_parallelism", "network_parallelism",
                                        "enable_multithreading", "enable_flexible_dedup"}));
    EXPECT_EQ(engine_flags_argument(engine_flag_names(), {}), "");
    EXPECT_EQ(engine_flags_argument(engine_flag_names(), {{"network_parallelism", "4"},
                                                          {"worker_parallelism", "2"}}),
              " -e worker_parallelism:2,network_parallelism:4");
    EXPECT_EQ(engine_flags_argument(engine_flag_names(), {{"enable_flexible_dedup", "true"},
                                                          {"unknown", "1"}}),
              " -e enable_flexible_dedup:true");
    // A hostile value stays inside the one -e word.
    EXPECT_EQ(engine_flags_argument(engine_flag_names(), {{"enable_multithreading", "1; rm -rf /"}}),
              " -e 'enable_multithreading:1; rm -rf /'");
}

}  // namespace
