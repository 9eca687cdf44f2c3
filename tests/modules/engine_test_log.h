#ifndef KEVRA_TESTS_MODULES_ENGINE_TEST_LOG_H
#define KEVRA_TESTS_MODULES_ENGINE_TEST_LOG_H
// Collects the log records of a test in memory, at every level up to Debug, and keeps
// the logging configuration away from the host's real file.

#include "tests/support/log_capture.h"

namespace engine_test {

// Routes every record into `text()` from construction until destruction.
class LogCapture : public kevra_test::LogCapture {
public:
    LogCapture() : kevra_test::LogCapture(kevra_test::temp_log_config("kevra-engine-test-hx_logger.config")) {}
};

}  // namespace engine_test

#endif
