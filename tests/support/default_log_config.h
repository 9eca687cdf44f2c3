#pragma once
// The logging configuration file the logging library writes when it finds
// none, or one it cannot use.

namespace kevra_test {

inline constexpr char kDefaultLogConfig[] =
    "#Logging level: Error, Warning, Info, Debug, Debug1, Debug2, Debug3, Debug4\n"
    "log_level Info\n"
    "#Maximum size of log file in Mb\n"
    "log_file_max_size 1\n"
    "#Number of stored log file rotations, log file itself is not included\n"
    "log_file_max_rotate 10\n";

}  // namespace kevra_test
