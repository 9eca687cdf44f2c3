#ifndef KEVRA_OPENNEBULA_IMAGE_LISTS_H
#define KEVRA_OPENNEBULA_IMAGE_LISTS_H

// Questions to "/usr/bin/oneimage list -x" about the whole image pool.

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "opennebula/pool_objects.h"

namespace hx_opennebula_common {

// 0 after appending every image's ID to `ids` in pool order; 1 when the command
// or the document fails (logged).
int get_image_list(std::vector<std::string>& ids);

// 0 after appending every image's name to `names` (an empty pool gives a
// Warning and still 0); 1 when the command or the document fails (logged).
int get_available_image_names(std::vector<std::string>& names);

// The IDs of the pool's images named exactly `name` whose `owner_field`
// ("UNAME" or "UID") is exactly `owner`, in pool order.
std::vector<std::string> owned_image_ids(xmlNode* pool, const std::string& name, const char* owner_field,
                                         const std::string& owner);

// 0 with `id` = the ID of the one image named `name` among the images whose
// `owner_field` ("UNAME" or "UID") is `owner` (names are unique per owner);
// 1 when the command or the document fails, or when no image or more than one
// has that name and owner (logged).
int get_owned_image_id(const std::string& name, const char* owner_field, const std::string& owner,
                       std::string& id);

// The IDs of the pool's images named exactly `name`, of any owner, in pool order.
std::vector<std::string> image_ids_named(xmlNode* pool, const std::string& name);

// 0 after appending to `objects` every image of the pool (ID, name, owner),
// in pool order; 1 when the command or the document fails (logged).
int get_image_pool(std::vector<pool_object>& objects);

// True when some image is named exactly `name`; false when none is or the query fails (logged).
bool does_image_name_exist(const std::string& name);

// The text of every IMAGE/<field> element directly under the IMAGE_POOL root
// `pool`, in document order (an IMAGE with two such fields gives both). Never
// fails beyond std::bad_alloc.
std::vector<std::string> image_pool_field_texts(xmlNode* pool, const char* field);

}  // namespace hx_opennebula_common

#endif
