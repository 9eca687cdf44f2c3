#ifndef KEVRA_COMMON_HUMAN_SIZE_H
#define KEVRA_COMMON_HUMAN_SIZE_H

// Sizes for people: 1536 bytes as "1.50 kB".

#include <string>

namespace hx_utils_common {

// Returns `size` divided by 1024 while it is at least 1024, in fixed notation with
// `precision` decimals (a fraction of only zeros removed), a blank and the unit
// "B" to "YB", or "Unknown" past YB. Never throws (beyond std::bad_alloc).
std::string size_to_human(float size, unsigned int precision);

}  // namespace hx_utils_common

#endif
