#ifndef KEVRA_OPENNEBULA_IMAGE_LISTS_H
#define KEVRA_OPENNEBULA_IMAGE_LISTS_H

// Questions to "/usr/bin/oneimage list -x" about the whole image pool.

#include <libxml/tree.h>

#include <string>
#include <vector>

namespace hx_opennebula_common {

// 0 after appending every image's ID to `ids` in pool order; 1 when the command
// or the document fails (logged).
int get_image_list(std::vector<std::string>& ids);

// 0 after appending every image's name to `names` (an empty pool gives a
// Warning and still 0); 1 when the command or the document fails (logged).
int get_available_image_names(std::vector<std::string>& names);

// True when some image is named exactly `name`; false when none is or the query fails (logged).
bool does_image_name_exist(const std::string& name);

// The text of every IMAGE/<field> element directly under the IMAGE_POOL root
// `pool`, in document order (an IMAGE with two such fields gives both). Never
// fails beyond std::bad_alloc.
std::vector<std::string> image_pool_field_texts(xmlNode* pool, const char* field);

}  // namespace hx_opennebula_common

#endif
