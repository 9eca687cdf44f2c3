#ifndef KEVRA_TESTS_MODULES_ENGINE_TEST_LOG_H
#define KEVRA_TESTS_MODULES_ENGINE_TEST_LOG_H
// Collects the log records of a test in memory, at every level up to Debug, and keeps
// the logging configuration away from the host's real file.

#include "common/hx_logger.h"

#include <boost/filesystem.hpp>

#include <memory>
#include <string>

namespace engine_test {

class MemoryLogger : public HxDestination::HxLogger {
public:
    explicit MemoryLogger(std::shared_ptr<std::string> text) : text_(std::move(text)) {}

protected:
    int write_log_impl(const std::string& text) override
    {
        *text_ += text;
        return 0;
    }

private:
    std::shared_ptr<std::string> text_;
};

// Routes every record into `text()` from construction until destruction.
class LogCapture {
public:
    LogCapture()
    {
        static const std::string config =
            (boost::filesystem::temp_directory_path() / "kevra-engine-test-hx_logger.config").string();
        HxLogStream::set_config_path(config);
        HxLogStream::set_default_loggers(std::make_unique<MemoryLogger>(text_));
        HxLogStream(HxLogLvl::Debug) << "log capture starts" << std::endl;
        HxLogStream::set_global_log_level(HxLogLvl::Debug);
        text_->clear();
    }
    ~LogCapture() { HxLogStream::set_default_loggers(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& text() const { return *text_; }

private:
    std::shared_ptr<std::string> text_ = std::make_shared<std::string>();
};

}  // namespace engine_test

#endif
