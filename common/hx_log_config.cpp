// The logging configuration file: read by the first log record of a process,
// rewritten with the defaults when it is missing or incomplete.
#include <iostream>

#include "common/config_file.h"
#include "common/hx_log_file.h"
#include "common/hx_log_stream.h"
#include "common/log_properties.h"

namespace {

std::string& configured_path() {
    static std::string path = "/opt/kelvomar/etc/hx_logger.config";
    return path;
}

}  // namespace

const std::string& HxLogStream::config_path() { return configured_path(); }

void HxLogStream::set_config_path(const std::string& path) {
    configured_path() = path;
    read_config_ = true;
}

bool HxLogStream::load_properties() {
    try {
        const hx_config::ConfigFile config(configured_path());
        const hx_log_config::log_properties properties = hx_log_config::read_log_properties(config);
        global_log_level_ = HxLogLvl::get_mask(properties.level);
        HxDestination::FileLogger::set_max_size(properties.max_size_mb);
        HxDestination::FileLogger::set_max_rotate(properties.max_rotate);
        return true;
    } catch (const hx_config::VariableAbsentException& absent) {
        std::cerr << "Warning: HxLogStream config variable is absent: " << absent.what() << "\n";
    } catch (const hx_config::WrongConfigException& error) {
        std::cerr << "Warning: HxLogStream config file is absent: " << error.what() << "\n";
    }
    return false;
}

void HxLogStream::set_properties(HxLogLvl::Level level, unsigned long max_size_mb,
                                 unsigned long max_rotate) {
    global_log_level_ = HxLogLvl::get_mask(level);
    HxDestination::FileLogger::set_max_size(max_size_mb);
    HxDestination::FileLogger::set_max_rotate(max_rotate);

    hx_config::ConfigFile config;
    config.addComment("Logging level: Error, Warning, Info, Debug, Debug1, Debug2, Debug3, Debug4");
    config.addVariable("log_level", HxLogLvl::to_string(level));
    config.addComment("Maximum size of log file in Mb");
    config.addVariable("log_file_max_size", std::to_string(max_size_mb));
    config.addComment("Number of stored log file rotations, log file itself is not included");
    config.addVariable("log_file_max_rotate", std::to_string(max_rotate));
    try {
        config.save(configured_path());  // a failure to save is not reported
    } catch (...) {
    }
}
