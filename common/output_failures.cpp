// Failed writes of the program's output, noted where they happen and reported
// once per stream.
#include "common/output_failures.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <system_error>

#include "common/hx_logger.h"
#include "common/output_lines.h"
#include "common/stream_write.h"

namespace kelvomar {
namespace output {

namespace {

struct failure {
    std::atomic<int> error{0};  // the first failure's errno; 0: none
    std::atomic<bool> reported{false};
};

failure g_failures[3];
std::atomic<bool> g_protocol_lost{false};

std::mutex& log_path_mutex()
{
    static std::mutex* instance = new std::mutex;
    return *instance;
}

std::string& failed_log_path()
{
    static std::string* instance = new std::string;
    return *instance;
}

// The report is an Error record, and writing it may fail again: that is noted,
// not reported a second time.
thread_local bool t_reporting = false;

std::string error_text(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

std::string report_text(target which, int error)
{
    switch (which) {
    case target::standard_output:
        if (error == ETIMEDOUT) {
            return "Standard output was not read for " +
                   std::to_string(stream_write::kStalledStreamLimitMs / 1000) +
                   " seconds while the module ends: it writes no more to it; its records stay in the log file";
        }
        return "Standard output can't be written: " + error_text(error) +
               "; the lines it should carry to the agent are lost";
    case target::standard_error:
        if (error == ETIMEDOUT) {
            return "Standard error was not read for " +
                   std::to_string(stream_write::kStalledStreamLimitMs / 1000) +
                   " seconds while the module ends: it writes no more to it";
        }
        return "Standard error can't be written: " + error_text(error);
    case target::log_file: {
        std::lock_guard<std::mutex> lock(log_path_mutex());
        return "The log file " + failed_log_path() + " can't be written: " + error_text(error);
    }
    }
    return std::string();
}

}  // namespace

void note_failed_write(target which, int error, bool protocol) noexcept
{
    int none = 0;
    g_failures[static_cast<int>(which)].error.compare_exchange_strong(none, error == 0 ? EIO : error);
    if (protocol) {
        g_protocol_lost.store(true);
    }
}

void note_failed_log_file_write(const std::string& path, int error) noexcept
{
    try {
        std::lock_guard<std::mutex> lock(log_path_mutex());
        if (g_failures[static_cast<int>(target::log_file)].error.load() == 0) {
            failed_log_path() = path;
        }
    } catch (...) {
        // The report then names no path.
    }
    note_failed_write(target::log_file, error, false);
}

bool protocol_lost() noexcept
{
    return g_protocol_lost.load();
}

void report_failed_writes() noexcept
{
    if (t_reporting || inside_ordered_write()) {
        return;
    }
    t_reporting = true;
    try {
        for (const target which : {target::standard_output, target::standard_error, target::log_file}) {
            failure& f = g_failures[static_cast<int>(which)];
            const int error = f.error.load();
            if (error != 0 && !f.reported.exchange(true)) {
                HxLogStream(HxLogLvl::Error) << report_text(which, error) << std::endl;
            }
        }
    } catch (...) {
        // A report never fails its caller.
    }
    t_reporting = false;
}

}  // namespace output
}  // namespace kelvomar
