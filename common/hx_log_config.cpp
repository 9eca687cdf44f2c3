// The logging configuration file: read by the first log record of a process,
// rewritten with the defaults when it is missing or incomplete.
#include <iostream>
#include <limits>
#include <locale>

#include "common/config_file.h"
#include "common/hx_log_file.h"
#include "common/hx_log_stream.h"

namespace {

std::string& configured_path() {
    static std::string path = "/opt/kelvomar/etc/hx_logger.config";
    return path;
}

bool is_blank(char c) { return std::isspace(c, std::locale::classic()); }

// The text trimmed, each inner run of white space shortened to its first character.
std::string compressed(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_blank(text[i]) && (out.empty() || is_blank(text[i - 1]))) {
            continue;
        }
        out += text[i];
    }
    while (!out.empty() && is_blank(out.back())) {
        out.pop_back();
    }
    return out;
}

// Leading white space skipped, digits up to the first other character; no
// digit gives 0, a value too large for the type gives its largest value.
unsigned long unsigned_decimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) {
        ++i;
    }
    unsigned long value = 0;
    const unsigned long limit = std::numeric_limits<unsigned long>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned long digit = static_cast<unsigned long>(text[i] - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return value;
}

}  // namespace

const std::string& HxLogStream::config_path() { return configured_path(); }

void HxLogStream::set_config_path(const std::string& path) {
    configured_path() = path;
    read_config_ = true;
}

bool HxLogStream::load_properties() {
    const char* key = "";
    try {
        hx_config::ConfigFile config(configured_path());
        key = "log_level";
        const std::string level_text = config[key];
        key = "log_file_max_size";
        const std::string size_text = config[key];
        key = "log_file_max_rotate";
        const std::string rotate_text = config[key];

        HxLogLvl::Level level = HxLogLvl::Info;
        HxLogLvl::from_string(compressed(level_text), level);
        global_log_level_ = HxLogLvl::get_mask(level);
        HxDestination::FileLogger::set_max_size(unsigned_decimal(size_text));
        HxDestination::FileLogger::set_max_rotate(unsigned_decimal(rotate_text));
        return true;
    } catch (const hx_config::VariableAbsentException&) {
        std::cerr << "Warning: HxLogStream config variable is absent: " << key << "\n";
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
