#include "template_module/ended_command_rule.h"

#include "opennebula/object_ids.h"

namespace kevra_template {

using hx_opennebula_common::pool_object;

const std::string& command_object_owner()
{
    // What the CLI makes belongs to the user it authenticates as; the program
    // works as the platform's administrator account, to which it also gives
    // the files it imports.
    static const std::string kOwner = "oneadmin";
    return kOwner;
}

bool made_by_ended_command(const pool_object& object, const naming_command_start& start, const std::string& owner)
{
    // IDs only grow: an object that existed before the command has an ID up
    // to the highest one seen then.
    return !start.name.empty() && object.name == start.name && object.owner == owner &&
           hx_opennebula_common::is_object_id(object.id) &&
           (start.highest_id_before.empty() || hx_opennebula_common::id_above(object.id, start.highest_id_before));
}

std::vector<pool_object> made_by_ended_command(const std::vector<pool_object>& pool,
                                               const naming_command_start& start, const std::string& owner)
{
    std::vector<pool_object> made;
    for (const pool_object& object : pool) {
        if (made_by_ended_command(object, start, owner)) {
            made.push_back(object);
        }
    }
    return made;
}

std::string objects_named(const std::vector<pool_object>& pool, const std::string& name)
{
    std::string text;
    for (const pool_object& object : pool) {
        if (object.name == name) {
            text += (text.empty() ? "" : ", ") + object.id + " (owner " + object.owner + ")";
        }
    }
    return text.empty() ? "none" : text;
}

std::string made_after_text(const naming_command_start& start)
{
    return start.highest_id_before.empty() ? "made when the pool was empty"
                                           : "made after ID " + start.highest_id_before;
}

std::string pending_object_text(const char* kind, const naming_command_start& start)
{
    return std::string(std::string(kind) == "image" ? "an " : "a ") + kind + " named '" + start.name + "' of the owner " +
           command_object_owner() + " " + made_after_text(start);
}

}  // namespace kevra_template
