#ifndef KEVRA_COMMON_MAIN_LOG_FILE_H
#define KEVRA_COMMON_MAIN_LOG_FILE_H

#include <string>

namespace hx_utils_common {

// Returns the product's main log file: the value of the last "logfile" line of
// /opt/kelvomar/etc/config.file, or /opt/kelvomar/log/Kelvomar.log without one.
// When the configuration file cannot be opened, writes "Can't open config file: "
// and its path to standard error and ends the process with exit status 1.
std::string get_logfile();

}  // namespace hx_utils_common

#endif
