#ifndef KEVRA_COMMON_HW_PLATFORM_H
#define KEVRA_COMMON_HW_PLATFORM_H

// The host's hardware maker and product as dmidecode reports them.

#include <string>

namespace hx_utils_common {

// Appends the "Manufacturer" and "Product" lines of `dmidecode -t system` to
// `output` and returns true. Returns false when the command fails (dmidecode
// missing, no such lines), with two Error log records: the command and its output.
bool get_hw_platform(std::string& output);

}  // namespace hx_utils_common

#endif
