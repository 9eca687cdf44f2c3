// The logging configuration file read by the first record of a process.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <boost/filesystem.hpp>

#include "common/hx_logger.h"
#include "tests/support/default_log_config.h"
#include "tests/support/path_files.h"

namespace fs = boost::filesystem;
using HxDestination::FileLogger;

namespace {

using kevra_test::read_file;

const char* const kDefaultFile = kevra_test::kDefaultLogConfig;

class Discard : public HxDestination::HxLogger {
protected:
    int write_log_impl(const std::string&) override { return 0; }
};

// A record that the configured level may or may not let through.
void first_record(HxLogLvl::Level level = HxLogLvl::Debug4) {
    HxLogStream(level, std::make_unique<Discard>()) << "x" << std::endl;
}

class LogConfig : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-logconfig-%%%%-%%%%");
        fs::create_directories(dir_);
        path_ = (dir_ / "hx_logger.config").string();
        HxLogStream::clear_loggers();
    }
    void TearDown() override {
        HxLogStream::set_config_path(path_);
        std::ofstream(path_) << kDefaultFile;
        first_record();  // back to Info, 1 MiB, 10 for the tests that follow
        fs::remove_all(dir_);
    }

    // Points the configuration at `text` (nullptr: no file), runs the first
    // record and returns what it wrote to standard error.
    std::string read_config(const char* text) {
        if (text != nullptr) {
            std::ofstream(path_, std::ios::binary) << text;
        }
        HxLogStream::set_config_path(path_);
        HxLogStream::set_global_log_level(HxLogLvl::Error);
        FileLogger::set_max_size(77);
        FileLogger::set_max_rotate(77);
        testing::internal::CaptureStderr();
        first_record();
        return testing::internal::GetCapturedStderr();
    }

    fs::path dir_;
    std::string path_;
};

struct ConfigCase {
    const char* title;
    const char* text;  // nullptr: no file
    std::uint32_t mask;
    std::uint64_t max_size;
    std::uint64_t max_rotate;
    const char* warning;   // the line on standard error, "" for none
    bool rewritten;        // the file then holds the default text
};

const char* const kFull = "log_level Debug2\nlog_file_max_size 5\nlog_file_max_rotate 3\n";

const ConfigCase kCases[] = {
    {"complete file", kFull, 63, 5 * 1048576ull, 3, "", false},
    {"comments and other keys are kept",
     "# mine\nlog_file_max_rotate 4\nother x\nlog_level Warning\nlog_file_max_size 2\n", 3,
     2 * 1048576ull, 4, "", false},
    {"missing file", nullptr, 7, 1048576, 10, "file is absent: Can't open file '", true},
    {"level only", "log_level Debug\n", 7, 1048576, 10, "variable is absent: log_file_max_size\n",
     true},
    {"no rotation count", "log_level Debug\nlog_file_max_size 4\n", 7, 1048576, 10,
     "variable is absent: log_file_max_rotate\n", true},
    {"no level", "log_file_max_size 4\nlog_file_max_rotate 4\n# note\n", 7, 1048576, 10,
     "variable is absent: log_level\n", true},
    {"empty file", "", 7, 1048576, 10, "variable is absent: log_level\n", true},
    {"unknown level means Info", "log_level Verbose\nlog_file_max_size 2\nlog_file_max_rotate 2\n",
     7, 2 * 1048576ull, 2, "", false},
    {"level names are case-sensitive", "log_level debug\nlog_file_max_size 2\nlog_file_max_rotate 2\n",
     7, 2 * 1048576ull, 2, "", false},
    {"empty level means Info", "log_level\nlog_file_max_size 2\nlog_file_max_rotate 2\n", 7,
     2 * 1048576ull, 2, "", false},
    {"white space around the level", "log_level \f Debug1 \v\nlog_file_max_size 2\nlog_file_max_rotate 2\n",
     31, 2 * 1048576ull, 2, "", false},
    {"inner blanks are compressed, not removed",
     "log_level De bug\nlog_file_max_size 2\nlog_file_max_rotate 2\n", 7, 2 * 1048576ull, 2, "",
     false},
    {"mask names", "log_level WarningMask\nlog_file_max_size 2\nlog_file_max_rotate 2\n", 3,
     2 * 1048576ull, 2, "", false},
    {"non-numeric limits are 0", "log_level Info\nlog_file_max_size abc\nlog_file_max_rotate x7\n", 7,
     0, 0, "", false},
    {"numbers end at the first other character",
     "log_level Info\nlog_file_max_size 12MB\nlog_file_max_rotate 3 rotations\n", 7,
     12 * 1048576ull, 3, "", false},
    {"negative numbers are not numbers", "log_level Info\nlog_file_max_size -1\nlog_file_max_rotate -2\n",
     7, 0, 0, "", false},
};

TEST_F(LogConfig, FirstRecordAppliesTheFileOrWritesTheDefaults) {
    for (const auto& c : kCases) {
        fs::remove(path_);
        const std::string warning = read_config(c.text);
        EXPECT_EQ(HxLogStream::global_log_level(), c.mask) << c.title;
        EXPECT_EQ(FileLogger::max_size(), c.max_size) << c.title;
        EXPECT_EQ(FileLogger::max_rotate(), c.max_rotate) << c.title;
        if (*c.warning == '\0') {
            EXPECT_EQ(warning, "") << c.title;
        } else {
            EXPECT_EQ(warning.rfind("Warning: HxLogStream config ", 0), 0u) << c.title << ": " << warning;
            EXPECT_NE(warning.find(c.warning), std::string::npos) << c.title << ": " << warning;
            EXPECT_EQ(warning.find('\n'), warning.size() - 1) << c.title << ": one line";
        }
        EXPECT_EQ(read_file(path_), c.rewritten ? kDefaultFile : c.text) << c.title;
    }
}

TEST_F(LogConfig, MissingFileWarningNamesTheQuotedPath) {
    EXPECT_EQ(read_config(nullptr),
              "Warning: HxLogStream config file is absent: Can't open file '" + path_ + "'\n");
}

TEST_F(LogConfig, FolderThatDoesNotExistGetsNoFile) {
    path_ = (dir_ / "missing" / "hx_logger.config").string();
    read_config(nullptr);
    EXPECT_EQ(HxLogStream::global_log_level(), 7u);
    EXPECT_EQ(FileLogger::max_size(), 1048576u);
    EXPECT_EQ(FileLogger::max_rotate(), 10u);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    path_ = (dir_ / "hx_logger.config").string();
}

TEST_F(LogConfig, ReadByTheFirstRecordOnlyEvenWhenItIsFilteredOut) {
    read_config(kFull);  // a Debug4 record, not written at Debug2
    EXPECT_EQ(HxLogStream::global_log_level(), 63u);
    std::ofstream(path_) << "log_level Error\nlog_file_max_size 9\nlog_file_max_rotate 9\n";
    HxLogStream::set_global_log_level(HxLogLvl::Warning);
    first_record(HxLogLvl::Error);
    EXPECT_EQ(HxLogStream::global_log_level(), 3u) << "the file was read again";
    EXPECT_EQ(FileLogger::max_rotate(), 3u);
}

TEST_F(LogConfig, SetPropertiesAppliesAndWritesTheFile) {
    HxLogStream::set_config_path(path_);
    std::ofstream(path_) << kFull;
    first_record();
    HxLogStream::set_properties(HxLogLvl::Debug, 4, 2);
    EXPECT_EQ(HxLogStream::global_log_level(), 15u);
    EXPECT_EQ(FileLogger::max_size(), 4 * 1048576u);
    EXPECT_EQ(FileLogger::max_rotate(), 2u);
    EXPECT_EQ(read_file(path_),
              "#Logging level: Error, Warning, Info, Debug, Debug1, Debug2, Debug3, Debug4\n"
              "log_level Debug\n"
              "#Maximum size of log file in Mb\n"
              "log_file_max_size 4\n"
              "#Number of stored log file rotations, log file itself is not included\n"
              "log_file_max_rotate 2\n");
}

}  // namespace
