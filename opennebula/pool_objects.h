#ifndef KEVRA_OPENNEBULA_POOL_OBJECTS_H
#define KEVRA_OPENNEBULA_POOL_OBJECTS_H

// The objects of a pool listing ("onetemplate list -x", "oneimage list -x")
// as records of their ID, name and owner.

#include <libxml/tree.h>

#include <string>
#include <vector>

namespace hx_opennebula_common {

// One object of a pool: the texts of its first ID, NAME and UNAME elements
// (empty when the element is missing).
struct pool_object {
    std::string id;
    std::string name;
    std::string owner;
};

// The objects named `element` ("VMTEMPLATE", "IMAGE") directly under the pool
// root `pool`, in document order. Never fails beyond std::bad_alloc.
std::vector<pool_object> pool_objects(xmlNode* pool, const char* element);

// The highest of the numeric IDs of `objects` as its text; empty when none
// has a numeric ID (an empty pool).
std::string highest_object_id(const std::vector<pool_object>& objects);

}  // namespace hx_opennebula_common

#endif
