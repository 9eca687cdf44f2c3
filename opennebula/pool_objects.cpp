#include "opennebula/pool_objects.h"

#include "opennebula/object_ids.h"
#include "opennebula/xml_access.h"

namespace hx_opennebula_common {

std::vector<pool_object> pool_objects(xmlNode* pool, const char* element)
{
    std::vector<pool_object> objects;
    for_each_child_element(pool, element, [&objects](xmlNode* object) {
        objects.push_back({element_text(first_child_element(object, "ID")),
                           element_text(first_child_element(object, "NAME")),
                           element_text(first_child_element(object, "UNAME"))});
    });
    return objects;
}

std::string highest_object_id(const std::vector<pool_object>& objects)
{
    std::string highest;
    for (const pool_object& object : objects) {
        if (is_object_id(object.id) && (highest.empty() || id_above(object.id, highest))) {
            highest = object.id;
        }
    }
    return highest;
}

}  // namespace hx_opennebula_common
