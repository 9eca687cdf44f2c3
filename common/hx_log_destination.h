#ifndef KEVRA_COMMON_HX_LOG_DESTINATION_H
#define KEVRA_COMMON_HX_LOG_DESTINATION_H

// Log destinations: where a finished log record is written. Each destination
// serialises its own writes; the routing tables of HxLogStream own them.

#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

// The program's standard streams (std::cout and std::cerr).
std::ostream& hx_unicout();
std::ostream& hx_unicerr();

namespace HxDestination {

class HxLogger {
public:
    HxLogger() = default;
    HxLogger(const HxLogger&) = delete;
    HxLogger& operator=(const HxLogger&) = delete;
    virtual ~HxLogger();

    // Writes "[<local time %Y-%m-%d %X>] " + text under this destination's lock.
    // Returns the result of write_log_impl: 0 written, non-zero not written.
    int write_log(const std::string& text);

protected:
    // Writes the finished text. Returns 0 on success, a non-zero code otherwise.
    virtual int write_log_impl(const std::string& text) = 0;

private:
    std::mutex mutex_;
    bool time_prefix_ = true;
};

class StdoutLogger : public HxLogger {
protected:
    // Writes the text to standard output unchanged and whole, after what
    // std::cout still holds (kelvomar::output::write_record_stdout); returns 0.
    int write_log_impl(const std::string& text) override;
};

class StderrLogger : public HxLogger {
protected:
    // Writes the text to standard error unchanged and whole, after what
    // std::cerr still holds (kelvomar::output::write_stderr); returns 0.
    int write_log_impl(const std::string& text) override;
};

// A new standard-output destination; never fails.
std::unique_ptr<HxLogger> Stdout();

// A new standard-error destination; never fails.
std::unique_ptr<HxLogger> Stderr();

}  // namespace HxDestination

#endif
