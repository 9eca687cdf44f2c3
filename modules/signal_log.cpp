// Log records written from a signal handler, through destinations of their own.
#include "modules/signal_log.h"

#include <errno.h>

#include <boost/filesystem/path.hpp>

#include "common/hx_logger.h"

namespace kelvomar {
namespace module {
namespace signal_log {

namespace {

std::string& path_storage()
{
    static std::string path;
    return path;
}

}  // namespace

void prepare()
{
    try {
        const char* program = program_invocation_name;
        const std::string name =
            program != nullptr ? boost::filesystem::path(program).filename().string() : std::string();
        path_storage() = name.empty() ? std::string() : "/opt/kelvomar/log/" + name + ".log";
    } catch (...) {
        path_storage().clear();
    }
}

const std::string& log_file_path()
{
    return path_storage();
}

void record(HxLogLvl::Level level, const std::string& text) noexcept
{
    try {
        const std::string& path = path_storage();
        const bool error = level == HxLogLvl::Error;
        if (path.empty()) {
            if (error) {
                HxLogStream(level, HxDestination::Stderr()) << text << std::endl;
            } else {
                HxLogStream(level, HxDestination::Stdout()) << text << std::endl;
            }
        } else if (error) {
            HxLogStream(level, HxDestination::File(path), HxDestination::Stderr()) << text << std::endl;
        } else {
            HxLogStream(level, HxDestination::File(path), HxDestination::Stdout()) << text << std::endl;
        }
    } catch (...) {
        // A record never fails the handler that writes it.
    }
}

void detach_shared_destinations() noexcept
{
    try {
        const std::string& path = path_storage();
        if (path.empty()) {
            HxLogStream::set_default_loggers(HxDestination::Stdout());
            HxLogStream::set_log_level_logger(HxLogLvl::Error, HxDestination::Stderr());
        } else {
            HxLogStream::set_default_loggers(HxDestination::File(path), HxDestination::Stdout());
            HxLogStream::set_log_level_logger(HxLogLvl::Error, HxDestination::File(path), HxDestination::Stderr());
        }
    } catch (...) {
        // The shared destinations stay as they were.
    }
}

}  // namespace signal_log
}  // namespace module
}  // namespace kelvomar
