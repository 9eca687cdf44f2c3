// Whole lines on standard output: a record is written out when its statement
// ends, and records, protocol lines and the raw writes of a signal handler
// made from several threads at once never land inside one another.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/hx_logger.h"
#include "common/output_lines.h"

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

}  // namespace
