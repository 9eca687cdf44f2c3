// Records written from a signal handler: a record too long for its fixed
// buffer is cut, and still ends its line, so that the next record does not
// continue it.
#include "modules/signal_log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "common/hx_logger.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_test::read_file;

// What `write` puts on descriptor `fd` (standard output or standard error).
std::string written_to(int fd, const std::function<void()>& write)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/signal-log.XXXXXX";
    const int file = ::mkstemp(&path[0]);
    const int saved = ::dup(fd);
    ::dup2(file, fd);
    write();
    ::dup2(saved, fd);
    ::close(saved);
    ::close(file);
    const std::string text = read_file(path);
    ::unlink(path.c_str());
    return text;
}

struct CutCase {
    const char* name;
    int fd;
    std::function<void(const std::string&)> write;  // writes two records holding the text
};

std::ostream& operator<<(std::ostream& out, const CutCase& c) { return out << c.name; }

class CutRecord : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutRecord, KeepsItsLineEnd)
{
    const CutCase& c = GetParam();
    const std::string long_text(40000, 'p');
    const std::string text = written_to(c.fd, [&] { c.write(long_text); });
    ASSERT_FALSE(text.empty());
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line.rfind("[", 0), 0u) << "line " << count << " does not start a record";
        EXPECT_LT(line.size(), long_text.size()) << "the record was not cut";
    }
    EXPECT_EQ(count, 2) << "each cut record ends its own line";
    EXPECT_EQ(text.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Records, CutRecord,
    ::testing::Values(CutCase{"Info", STDOUT_FILENO,
                              [](const std::string& text) {
                                  HxLogStream::set_global_log_level(HxLogLvl::Info);
                                  for (int i = 0; i < 2; ++i) {
                                      kelvomar::module::signal_log::info(text.c_str(), 42, " after");
                                  }
                              }},
                      CutCase{"Error", STDERR_FILENO,
                              [](const std::string& text) {
                                  for (int i = 0; i < 2; ++i) {
                                      kelvomar::module::signal_log::error("Left: ", " list ", text.c_str());
                                  }
                              }}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

}  // namespace
