#include "common/hx_log_destination.h"

#include <ctime>
#include <iostream>

#include "common/output_lines.h"

std::ostream& hx_unicout() { return std::cout; }

std::ostream& hx_unicerr() { return std::cerr; }

namespace HxDestination {

namespace {

// "[2024-05-01 10:00:00] " for the current local time.
std::string time_prefix() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64] = {0};
    if (std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %X", &local) == 0) {
        stamp[0] = '\0';
    }
    return std::string("[") + stamp + "] ";
}

}  // namespace

HxLogger::~HxLogger() = default;

int HxLogger::write_log(const std::string& text) {
    // The process-wide output lock first, always: a record holds it over all
    // its destinations, so taking it after this destination's own lock could
    // wait for a record that waits for this destination.
    // When that lock could not be had in time (a termination, its holder
    // stuck), this destination's own lock is only tried.
    const kelvomar::output::ordered_write ordered;
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (ordered.held()) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return 1;
    }
    if (time_prefix_) {
        return write_log_impl(time_prefix() + text);
    }
    return write_log_impl(text);
}

int StdoutLogger::write_log_impl(const std::string& text) {
    kelvomar::output::write_record_stdout(text);
    return 0;
}

int StderrLogger::write_log_impl(const std::string& text) {
    kelvomar::output::write_stderr(text);
    return 0;
}

std::unique_ptr<HxLogger> Stdout() { return std::make_unique<StdoutLogger>(); }

std::unique_ptr<HxLogger> Stderr() { return std::make_unique<StderrLogger>(); }

}  // namespace HxDestination
