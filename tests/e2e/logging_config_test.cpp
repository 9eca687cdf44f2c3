// The logging configuration at its real place, /opt/kelvomar/etc/hx_logger.config,
// and the log file below /opt/kelvomar/log, in the sandbox: this program
// writes records itself and checks the files they leave.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "common/config_file.h"
#include "common/hx_logger.h"
#include "tests/support/default_log_config.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace fs = boost::filesystem;
using HxDestination::FileLogger;

namespace {

using kevra_test::read_file;
using kevra_test::write_file;

const char* const kConfig = "/opt/kelvomar/etc/hx_logger.config";
const char* const kEtc = "/opt/kelvomar/etc";
const char* const kLogDir = "/opt/kelvomar/log";
const char* const kLog = "/opt/kelvomar/log/logging_config_test.log";

const char* const kDefaultFile = kevra_test::kDefaultLogConfig;

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Installs the program's routing (log file and standard output; for Error the
// log file and standard error) and makes the next record read the real file.
class LoggingConfig : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!kevra_test::in_sandbox(why)) {
            return;  // the test skips (or fails under CI) before touching any real path
        }
        fs::remove_all(kEtc);
        fs::remove_all(kLogDir);
        fs::create_directories(kLogDir);
        HxLogStream::set_default_loggers(HxDestination::File(kLog), HxDestination::Stdout());
        HxLogStream::set_log_level_logger(HxLogLvl::Error, HxDestination::File(kLog),
                                          HxDestination::Stderr());
        HxLogStream::set_global_log_level(HxLogLvl::Debug);
        HxLogStream::set_config_path(kConfig);
    }
    void TearDown() override {
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
            ::umount2(it->c_str(), MNT_DETACH);
        }
        HxLogStream::clear_loggers();
    }

    // A tmpfs of `size` bytes at `where`; false when it cannot be mounted.
    bool mount_tmpfs(const std::string& where, const std::string& size) {
        fs::create_directories(where);
        const std::string options = "size=" + size;
        if (::mount("kevra-test", where.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            return false;
        }
        mounts_.push_back(where);
        return true;
    }

    // Fills the file system of `dir` until a write fails.
    static void fill(const std::string& dir) {
        std::ofstream filler(dir + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        for (int i = 0; i < 100000 && filler.write(block.data(), block.size()); ++i) {
            filler.flush();
        }
    }

    std::vector<std::string> mounts_;
};

TEST_F(LoggingConfig, MissingFileIsWrittenWithTheDefaults) {
    KEVRA_REQUIRE_SANDBOX();
    EXPECT_EQ(HxLogStream::config_path(), kConfig);
    fs::create_directories(kEtc);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HxLogStream(HxLogLvl::Debug) << "not at Info" << std::endl;
    HxLogStream(HxLogLvl::Info) << "at Info" << std::endl;
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Warning: HxLogStream config file is absent: Can't open file '" +
                       std::string(kConfig) + "'\n");
    EXPECT_EQ(read_file(kConfig), kDefaultFile);
    const std::string log = read_file(kLog);
    EXPECT_EQ(log.find("not at Info"), std::string::npos) << log;
    EXPECT_NE(log.find("] Info: at Info\n"), std::string::npos) << log;
}

TEST_F(LoggingConfig, WithoutTheEtcFolderNothingIsCreated) {
    KEVRA_REQUIRE_SANDBOX();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HxLogStream(HxLogLvl::Info) << "x" << std::endl;
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(kEtc));
    EXPECT_EQ(HxLogStream::global_log_level(), 7u);
}

TEST_F(LoggingConfig, IncompleteFileIsReplacedByTheDefaultFile) {
    KEVRA_REQUIRE_SANDBOX();
    fs::create_directories(kEtc);
    write_file(kConfig, "# my notes\nlog_level Debug\nextra line\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HxLogStream(HxLogLvl::Debug) << "dropped" << std::endl;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: HxLogStream config variable is absent: log_file_max_size\n");
    EXPECT_EQ(read_file(kConfig), kDefaultFile);
    EXPECT_EQ(read_file(kLog).find("dropped"), std::string::npos);
}

TEST_F(LoggingConfig, LevelAndLimitsOfTheFileGovernTheLogFile) {
    KEVRA_REQUIRE_SANDBOX();
    fs::create_directories(kEtc);
    const std::string config = "log_level Debug2\nlog_file_max_size 0\nlog_file_max_rotate 2\n";
    write_file(kConfig, config);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (int i = 1; i <= 5; ++i) {
        HxLogStream(HxLogLvl::Debug) << "record " << i << std::endl;
    }
    HxLogStream(HxLogLvl::Debug3) << "too detailed" << std::endl;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(read_file(kConfig), config) << "a complete file is not rewritten";
    EXPECT_EQ(HxLogStream::global_log_level(), 63u);
    EXPECT_NE(out.find("\033[1;97mDebug: record 5 \033[0m\n"), std::string::npos) << out;
    // Every write rotated the file before it: the live file holds the last
    // record, two rotated copies the two before it.
    const auto rotated = FileLogger::get_files_by_mask(kLogDir, "logging_config_test.log");
    EXPECT_EQ(rotated.size(), 2u);
    EXPECT_EQ(names_in(kLogDir).size(), 3u);
    EXPECT_NE(read_file(kLog).find("record 5"), std::string::npos);
    std::string kept;
    for (const auto& entry : rotated) {
        kept += read_file(entry.second.string());
    }
    EXPECT_NE(kept.find("record 4"), std::string::npos) << kept;
    EXPECT_NE(kept.find("record 3"), std::string::npos) << kept;
    EXPECT_EQ(kept.find("record 2 "), std::string::npos) << kept;
}

TEST_F(LoggingConfig, ErrorRecordsGoToTheLogFileAndStandardError) {
    KEVRA_REQUIRE_SANDBOX();
    fs::create_directories(kEtc);
    write_file(kConfig, kDefaultFile);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HxLogStream(HxLogLvl::Error) << "broken   badly" << std::endl;
    HxLogStream(HxLogLvl::Warning) << "doubtful" << std::endl;
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("\033[1;31mError: broken badly \033[0m\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("doubtful"), std::string::npos);
    EXPECT_NE(out.find("\033[1;33mWarning: doubtful \033[0m\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("broken"), std::string::npos);
    const std::string log = read_file(kLog);
    EXPECT_NE(log.find("Error: broken badly"), std::string::npos) << log;
    EXPECT_NE(log.find("Warning: doubtful"), std::string::npos) << log;
}

TEST_F(LoggingConfig, FullDiskNeverLeavesATruncatedFile) {
    KEVRA_REQUIRE_SANDBOX();
    ASSERT_TRUE(mount_tmpfs(kEtc, "8k"));
    const std::string incomplete = "# kept as it was\nlog_level Debug\n";
    write_file(kConfig, incomplete);
    fill(kEtc);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HxLogStream(HxLogLvl::Info) << "x" << std::endl;  // tries to write the default file
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(HxLogStream::global_log_level(), 7u);
    EXPECT_EQ(read_file(kConfig), incomplete);

    hx_config::ConfigFile config(kConfig);
    config.addComment(std::string(8192, 'c'));
    EXPECT_FALSE(config.save(kConfig));
    EXPECT_EQ(read_file(kConfig), incomplete);
    EXPECT_EQ(names_in(kEtc), (std::vector<std::string>{"filler", "hx_logger.config"}))
        << "a temporary file was left";
}

TEST_F(LoggingConfig, ReadOnlyFolderKeepsTheOldFile) {
    KEVRA_REQUIRE_SANDBOX();
    ASSERT_TRUE(mount_tmpfs(kEtc, "64k"));
    write_file(kConfig, "log_level Debug\n");
    ASSERT_EQ(::mount("none", kEtc, nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    hx_config::ConfigFile config;
    config.addVariable("log_level", "Info");
    EXPECT_FALSE(config.save(kConfig));
    EXPECT_EQ(read_file(kConfig), "log_level Debug\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HxLogStream(HxLogLvl::Info) << "still logged" << std::endl;
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(read_file(kConfig), "log_level Debug\n");
    EXPECT_NE(read_file(kLog).find("still logged"), std::string::npos);
}

TEST_F(LoggingConfig, LogFileThatCannotBeMovedKeepsEveryRecord) {
    KEVRA_REQUIRE_SANDBOX();
    fs::create_directories(kEtc);
    write_file(kConfig, "log_level Info\nlog_file_max_size 0\nlog_file_max_rotate 10\n");
    write_file(kLog, "before\n");
    // A file that is a mount point cannot be renamed, but can be appended to.
    ASSERT_EQ(::mount(kLog, kLog, nullptr, MS_BIND, nullptr), 0);
    mounts_.push_back(kLog);
    testing::internal::CaptureStdout();
    for (int i = 1; i <= 3; ++i) {
        HxLogStream(HxLogLvl::Info) << "kept " << i << std::endl;
    }
    testing::internal::GetCapturedStdout();
    const std::string log = read_file(kLog);
    for (const char* text : {"before\n", "kept 1\n", "kept 2\n", "kept 3\n"}) {
        EXPECT_NE(log.find(text), std::string::npos) << text << " was lost: " << log;
    }
    EXPECT_EQ(names_in(kLogDir), (std::vector<std::string>{"logging_config_test.log"}));
}

}  // namespace
