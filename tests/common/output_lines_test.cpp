// Whole lines on standard output: a record is written out when its statement
// ends, and records, protocol lines and the raw writes of a signal handler
// made from several threads at once never land inside one another. A reader
// that stalls holds a writer only until a termination bounds the waits; a
// stream that cannot be written is reported once and loses the protocol.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/hx_logger.h"
#include "common/output_failures.h"
#include "common/output_lines.h"
#include "common/stream_write.h"
#include "tests/support/in_child.h"

namespace {

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Standard output goes to a new file below TMPDIR while one lives.
class StdoutToFile {
public:
    StdoutToFile()
    {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp != nullptr ? tmp : "/tmp") + "/stdout.XXXXXX";
        const int fd = ::mkstemp(&path_[0]);
        std::cout.flush();
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~StdoutToFile()
    {
        std::cout.flush();
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        ::unlink(path_.c_str());
    }
    // What reached the file so far (nothing is flushed first).
    std::string text() const { return read_file(path_); }

private:
    std::string path_;
    int saved_ = -1;
};

class OutputLines : public ::testing::Test {
protected:
    void SetUp() override
    {
        HxLogStream::set_config_path("/nonexistent/hx_logger.config");
        HxLogStream(HxLogLvl::Debug) << "first record reads the configuration" << std::endl;
        HxLogStream::clear_loggers();
        HxLogStream::set_default_loggers(HxDestination::Stdout());
        HxLogStream::set_global_log_level(HxLogLvl::Info);
    }
    void TearDown() override { HxLogStream::clear_loggers(); }
};

TEST_F(OutputLines, ARecordIsOnStandardOutputWhenItsStatementEnds)
{
    StdoutToFile out;
    HxLogStream(HxLogLvl::Info) << "a whole record" << std::endl;
    // A handler that writes with write(2) now (a crash) finds the line complete.
    EXPECT_NE(out.text().find("Info: a whole record\n"), std::string::npos) << out.text();
    kelvomar::output::print_line("MODULE PID:42");
    EXPECT_NE(out.text().find("Info: a whole record\nMODULE PID:42\n"), std::string::npos) << out.text();
}

TEST_F(OutputLines, WritersOnSeveralThreadsNeverSplitALine)
{
    constexpr int kRounds = 1500;
    const std::string raw = "RAW LINE WRITTEN AS A SIGNAL HANDLER DOES\n";
    StdoutToFile out;
    // Some text waits in std::cout's buffer, as the program's other output may.
    std::cout << "pending text of std::cout" << std::endl;
    std::thread records([] {
        for (int i = 0; i < kRounds; ++i) {
            HxLogStream(HxLogLvl::Info) << "record " << i << " of the signal thread" << std::endl;
        }
    });
    std::thread protocol([] {
        for (int i = 0; i < kRounds; ++i) {
            kelvomar::output::print_line("Packed: " + std::to_string(i) + " bytes of the engine's progress");
        }
    });
    std::thread handler([&] {
        for (int i = 0; i < kRounds; ++i) {
            const ssize_t ignored = ::write(STDOUT_FILENO, raw.data(), raw.size());
            (void)ignored;
        }
    });
    records.join();
    protocol.join();
    handler.join();
    std::cout.flush();

    const std::regex record(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] Info: record \d+ of the signal thread)");
    const std::regex progress(R"(Packed: \d+ bytes of the engine's progress)");
    std::istringstream lines(out.text());
    int records_seen = 0;
    int progress_seen = 0;
    int raw_seen = 0;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, record)) {
            ++records_seen;
        } else if (std::regex_match(line, progress)) {
            ++progress_seen;
        } else if (line + "\n" == raw) {
            ++raw_seen;
        } else {
            EXPECT_EQ(line, "pending text of std::cout") << "a split line";
        }
    }
    EXPECT_EQ(records_seen, kRounds);
    EXPECT_EQ(progress_seen, kRounds);
    EXPECT_EQ(raw_seen, kRounds);
}

// ---- A stalled reader, and streams that cannot be written ---------------
// Each case runs in a child process of its own (its standard streams, the
// bound and the given-up streams are the process's), which returns 0 when
// every check held and the number of the first that failed otherwise.

std::string temporary_path(const std::string& name)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name + ".XXXXXX";
    ::close(::mkstemp(&path[0]));
    return path;
}

// A pipe on standard output that nobody reads and that takes nothing more;
// returns its read end, which the caller keeps open.
int stalled_stdout()
{
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    while (::write(fds[1], filler.data(), filler.size()) > 0) {
    }
    while (::write(fds[1], filler.data(), 1) > 0) {
    }
    ::fcntl(fds[1], F_SETFL, 0);
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[1]);
    return fds[0];
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The log records go to a file and to standard output, as the program routes them.
void log_to(const std::string& log_file)
{
    HxLogStream::clear_loggers();
    HxLogStream::set_default_loggers(HxDestination::File(log_file), HxDestination::Stdout());
    HxLogStream::set_log_level_logger(HxLogLvl::Error, HxDestination::File(log_file), HxDestination::Stderr());
    HxLogStream::set_global_log_level(HxLogLvl::Info);
}

TEST_F(OutputLines, AStalledReaderIsWaitedForUntilATerminationBoundsTheWait)
{
    const std::string log_file = temporary_path("log");
    const int status = kevra_test::exit_status_in_child(60, [&] {
        log_to(log_file);
        const int reader = stalled_stdout();
        // A protocol line waits for the reader, holding the output lock; a
        // record of another thread waits for that lock.
        std::atomic<bool> line_done{false};
        std::atomic<bool> record_done{false};
        std::thread line([&] {
            kelvomar::output::print_line("MODULE PID:42");
            line_done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::thread record([&] {
            HxLogStream(HxLogLvl::Info) << "Module was terminated. PID: 42" << std::endl;
            record_done = true;
        });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (line_done || record_done) {
            return 1;  // without a bound a writer waits as long as the reader stalls
        }
        const auto bounded = std::chrono::steady_clock::now();
        kelvomar::stream_write::bound_waits();
        line.join();
        record.join();
        if (seconds_since(bounded) > kelvomar::stream_write::kStalledStreamLimitMs / 1000.0 + 4) {
            return 2;
        }
        if (!kelvomar::stream_write::given_up(STDOUT_FILENO) || !kelvomar::output::protocol_lost()) {
            return 3;
        }
        // Given up: later writes return at once, and the log file keeps the records.
        const auto later = std::chrono::steady_clock::now();
        HxLogStream(HxLogLvl::Info) << "a later record" << std::endl;
        kelvomar::output::print_line("a later line");
        if (seconds_since(later) > 1) {
            return 4;
        }
        const std::string log = read_file(log_file);
        if (log.find("Info: Module was terminated. PID: 42\n") == std::string::npos ||
            log.find("Info: a later record\n") == std::string::npos) {
            return 5;
        }
        if (log.find("Error: Standard output was not read for 3 seconds") == std::string::npos) {
            return 6;
        }
        ::close(reader);
        return 0;
    });
    ::unlink(log_file.c_str());
    EXPECT_EQ(status, 0);
}

TEST_F(OutputLines, ASlowReaderGetsEveryLineWholeWithoutABound)
{
    const int status = kevra_test::exit_status_in_child(60, [&] {
        const int reader = stalled_stdout();
        std::string drained;
        char buffer[4096];
        const std::string line(6000, 'x');
        std::thread writer([&] { kelvomar::output::print_line("Packed: " + line); });
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ssize_t n = 0;
        while (drained.find("\n") == std::string::npos && (n = ::read(reader, buffer, sizeof buffer)) > 0) {
            drained.append(buffer, static_cast<std::size_t>(n));
        }
        writer.join();
        // What the writer added after the filler arrives once the filler is read.
        for (struct pollfd ready {reader, POLLIN, 0}; ::poll(&ready, 1, 200) > 0;) {
            if ((n = ::read(reader, buffer, sizeof buffer)) <= 0) {
                break;
            }
            drained.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t start = drained.find("Packed: ");
        if (start == std::string::npos || drained.substr(start) != "Packed: " + line + "\n") {
            return 1;
        }
        return kelvomar::output::protocol_lost() || kelvomar::stream_write::given_up(STDOUT_FILENO) ? 2 : 0;
    });
    EXPECT_EQ(status, 0);
}

struct UnwritableCase {
    const char* name;
    bool full_device;  // else a pipe without a reader
    const char* reason;
};

std::ostream& operator<<(std::ostream& out, const UnwritableCase& c) { return out << c.name; }

class UnwritableStdout : public OutputLines, public ::testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableStdout, TheProtocolIsLostAndTheFailureReportedOnce)
{
    const UnwritableCase& c = GetParam();
    const std::string log_file = temporary_path("log");
    const std::string err_file = temporary_path("err");
    const int status = kevra_test::exit_status_in_child(60, [&] {
        ::signal(SIGPIPE, SIG_IGN);
        log_to(log_file);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_TRUNC);
        ::dup2(err, STDERR_FILENO);
        if (c.full_device) {
            ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
        } else {
            int fds[2];
            if (::pipe(fds) != 0) {
                return 9;
            }
            ::close(fds[0]);
            ::dup2(fds[1], STDOUT_FILENO);
        }
        HxLogStream(HxLogLvl::Info) << "a record for standard output" << std::endl;
        if (kelvomar::output::protocol_lost()) {
            return 1;  // a log record is not one of the agent's lines
        }
        for (int i = 0; i < 3; ++i) {
            kelvomar::output::print_line("MAIN ARCHIVE FILENAME:/tmp/op/a1.snap");
        }
        if (!kelvomar::output::protocol_lost()) {
            return 2;
        }
        const std::string record = std::string("Error: Standard output can't be written: ") + c.reason;
        const std::string log = read_file(log_file);
        const std::string errors = read_file(err_file);
        if (log.find(record) == std::string::npos || errors.find(record) == std::string::npos) {
            return 3;
        }
        if (log.find(record) != log.rfind(record)) {
            return 4;  // reported once, not once per line
        }
        return 0;
    });
    ::unlink(log_file.c_str());
    ::unlink(err_file.c_str());
    EXPECT_EQ(status, 0);
}

INSTANTIATE_TEST_SUITE_P(Streams, UnwritableStdout,
                         ::testing::Values(UnwritableCase{"FullDevice", true, "No space left on device"},
                                           UnwritableCase{"PipeWithoutReader", false, "Broken pipe"}),
                         [](const ::testing::TestParamInfo<UnwritableCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
