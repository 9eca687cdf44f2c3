#pragma once
// Collects the log records the access layer writes, so a test can check them.
// Header only: the unit tests and the sandbox runs share it.

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <optional>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "tests/support/log_capture.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"

namespace opennebula_test {

// Installs a capturing destination as the only one (and a private logging
// configuration file) for the life of the fixture; the level stays as it is.
class LogCapture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Every record written since SetUp (or the last clear), in order.
    const std::vector<std::string>& records() const;
    void clear_records();

    // True when some record contains `piece`.
    bool logged(const std::string& piece) const;

    // All records joined by newlines, for failure messages.
    std::string all_records() const;

    // A fresh private folder for this test, removed in TearDown.
    std::string scratch_dir() const { return scratch_; }

private:
    std::string scratch_;
    std::string config_path_;  // the logging configuration path before SetUp
    std::optional<kevra_test::LogCapture> capture_;
};

// The text of a recorded document in tests/opennebula/data/.
std::string recorded_document(const std::string& name);

// Whole files read and written as the sandbox runs do.
using kevra_test::read_file;
using kevra_test::write_file;

inline void LogCapture::SetUp()
{
    namespace fs = boost::filesystem;
    scratch_ = fs::unique_path(fs::temp_directory_path() / "kevra-opennebula-%%%%-%%%%-%%%%").string();
    fs::create_directories(scratch_);
    config_path_ = HxLogStream::config_path();
    capture_.emplace(scratch_ + "/hx_logger.config", kevra_test::CaptureLevel::unchanged);
}

inline void LogCapture::TearDown()
{
    capture_.reset();
    HxLogStream::set_config_path(config_path_);
    boost::system::error_code ignored;
    boost::filesystem::remove_all(scratch_, ignored);
}

inline const std::vector<std::string>& LogCapture::records() const
{
    return capture_->records();
}

inline void LogCapture::clear_records()
{
    capture_->clear();
}

inline bool LogCapture::logged(const std::string& piece) const
{
    for (const std::string& record : records())
        if (record.find(piece) != std::string::npos)
            return true;
    return false;
}

inline std::string LogCapture::all_records() const
{
    return capture_->text();
}

inline std::string recorded_document(const std::string& name)
{
    return read_file(kevra_test::source_path("tests/opennebula/data/" + name));
}

}  // namespace opennebula_test
