#ifndef KEVRA_OPENNEBULA_LAYER_LOG_H
#define KEVRA_OPENNEBULA_LAYER_LOG_H

// Log records of the access layer: one record per call, written at once.

#include <string>

namespace hx_opennebula_common {

// Writes `text` as one record at Error, Warning or Info. Never throws.
void log_error(const std::string& text);
void log_warning(const std::string& text);
void log_info(const std::string& text);

// `text` between double quotes, each double quote or backslash inside preceded by a backslash.
std::string double_quoted(const std::string& text);

}  // namespace hx_opennebula_common

#endif
