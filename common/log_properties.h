#ifndef KEVRA_COMMON_LOG_PROPERTIES_H
#define KEVRA_COMMON_LOG_PROPERTIES_H

// The settings that the logging configuration file carries, read from its
// parsed entries.

#include "common/config_file.h"
#include "common/hx_log_level.h"

namespace hx_log_config {

struct log_properties {
    HxLogLvl::Level level = HxLogLvl::Info;
    unsigned long max_size_mb = 0;
    unsigned long max_rotate = 0;
};

// The level (Info when its text names none) and the log-file limits (leading
// blanks skipped, digits up to the first other character, the largest value
// when too large) of `config`. Throws hx_config::VariableAbsentException with
// the name of the first of log_level, log_file_max_size, log_file_max_rotate missing.
log_properties read_log_properties(const hx_config::ConfigFile& config);

}  // namespace hx_log_config

#endif
