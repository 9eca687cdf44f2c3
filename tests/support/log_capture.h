#ifndef KEVRA_TESTS_SUPPORT_LOG_CAPTURE_H
#define KEVRA_TESTS_SUPPORT_LOG_CAPTURE_H
// Collects the log records a test writes in memory, and keeps the logging
// configuration away from the host's real file. Header only: the support
// library is linked ahead of the product libraries, so it must not call them.

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/hx_logger.h"

namespace kevra_test {

// Every record a MemoryLogger was given: one entry each, and all of them joined.
struct CapturedLog {
    std::vector<std::string> records;
    std::string text;

    void clear()
    {
        records.clear();
        text.clear();
    }
};

// A log destination that appends each record to a shared CapturedLog.
class MemoryLogger : public HxDestination::HxLogger {
public:
    explicit MemoryLogger(std::shared_ptr<CapturedLog> log) : log_(std::move(log)) {}

protected:
    int write_log_impl(const std::string& text) override
    {
        log_->records.push_back(text);
        log_->text += text;
        return 0;
    }

private:
    std::shared_ptr<CapturedLog> log_;
};

// Which records a LogCapture lets through.
enum class CaptureLevel {
    every,      // the global mask is opened up to Debug
    unchanged,  // the global mask stays as it is (as the configuration leaves it)
};

// A private logging configuration: a new folder named after `name` below the
// temporary folder, for the configuration file `path()` that the library
// writes there; the folder and the file go with the object.
class TempLogConfig {
public:
    explicit TempLogConfig(const std::string& name)
        : folder_(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path(name + "-%%%%%%%%"))
    {
        boost::filesystem::create_directory(folder_);
    }
    ~TempLogConfig()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(folder_, ignored);
    }
    TempLogConfig(const TempLogConfig&) = delete;
    TempLogConfig& operator=(const TempLogConfig&) = delete;

    std::string path() const { return (folder_ / "hx_logger.config").string(); }

private:
    boost::filesystem::path folder_;
};

// A private logging configuration named after `name` (see TempLogConfig).
inline TempLogConfig temp_log_config(const std::string& name)
{
    return TempLogConfig(name);
}

// Routes every record into memory, as the only destination, while it lives.
// The logging configuration is read from `config_path` at construction (a
// scratch file, never the host's); records written before that are not kept.
class LogCapture {
public:
    explicit LogCapture(const std::string& config_path, CaptureLevel level = CaptureLevel::every)
    {
        HxLogStream::clear_loggers();
        HxLogStream::set_config_path(config_path);
        HxLogStream::set_default_loggers(std::make_unique<MemoryLogger>(log_));
        // The first record reads the configuration now, so that it cannot
        // change the level set below later on.
        HxLogStream(HxLogLvl::Debug) << "log capture starts" << std::endl;
        if (level == CaptureLevel::every) {
            HxLogStream::set_global_log_level(HxLogLvl::Debug);
        }
        log_->clear();
    }
    // The same with a private configuration, read here and removed with `config`
    // (a temporary: at the end of the statement that makes this capture).
    explicit LogCapture(const TempLogConfig& config, CaptureLevel level = CaptureLevel::every)
        : LogCapture(config.path(), level)
    {
    }
    ~LogCapture() { HxLogStream::clear_loggers(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // All records since construction (or the last clear), joined in order.
    const std::string& text() const { return log_->text; }
    // The same records, one entry each.
    const std::vector<std::string>& records() const { return log_->records; }
    void clear() { log_->clear(); }

    // Success when `expected` is empty and nothing was logged, or when the
    // log holds `expected`; a failure shows the log.
    ::testing::AssertionResult logged_as_expected(const std::string& expected) const
    {
        if (expected.empty() ? log_->text.empty() : log_->text.find(expected) != std::string::npos) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << (expected.empty() ? "nothing should be logged" : "not logged: " + expected)
               << "\nlog was: " << log_->text;
    }

private:
    std::shared_ptr<CapturedLog> log_ = std::make_shared<CapturedLog>();
};

}  // namespace kevra_test

#endif
