#include "tests/fuzz/pool_object_checks.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "opennebula/object_ids.h"
#include "opennebula/pool_objects.h"
#include "template_module/ended_command_rule.h"

namespace kevra_fuzz {

void check_pool_objects(xmlNode* pool, const char* element)
{
    using namespace hx_opennebula_common;
    const std::vector<pool_object> objects = pool_objects(pool, element);
    const std::string highest = highest_object_id(objects);
    bool found = highest.empty();
    for (const pool_object& object : objects) {
        if (is_object_id(object.id) && (highest.empty() || id_above(object.id, highest))) {
            std::abort();  // an ID above the highest
        }
        found = found || object.id == highest;
    }
    if (!found) {
        std::abort();  // the highest ID is none of the pool's
    }
    const std::string& owner = kevra_template::command_object_owner();
    for (const std::string& bound : {std::string(), std::string("3"), highest}) {
        for (const pool_object& object : objects) {
            const kevra_template::naming_command_start start{object.name, bound};
            for (const pool_object& made : kevra_template::made_by_ended_command(objects, start, owner)) {
                if (made.name != object.name || made.owner != owner || !is_object_id(made.id) ||
                    (!bound.empty() && !id_above(made.id, bound))) {
                    std::abort();  // taken for the command's while it can be another's
                }
            }
        }
    }
}

}  // namespace kevra_fuzz
