#ifndef KEVRA_OPENNEBULA_OBJECT_IDS_H
#define KEVRA_OPENNEBULA_OBJECT_IDS_H

// Numeric object IDs: the only arguments that name exactly one platform object
// for the commands that change or delete objects (a name can hold a comma, a
// range or digits, which those commands read as other objects).

#include <string>

namespace hx_opennebula_common {

// True when `text` is a non-empty run of decimal digits, as the platform writes an ID.
bool is_object_id(const std::string& text);

// The ID that a create or clone command printed in its "ID: n" line (at the
// start of a line, the digits up to the line end); empty when there is none.
std::string printed_object_id(const std::string& output);

// True when the ID `id` is a greater number than the ID `bound` (both runs of
// decimal digits, of any length; leading zeros do not count).
bool id_above(const std::string& id, const std::string& bound);

}  // namespace hx_opennebula_common

#endif
