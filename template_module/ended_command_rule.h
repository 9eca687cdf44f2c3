#ifndef KEVRA_TEMPLATE_MODULE_ENDED_COMMAND_RULE_H
#define KEVRA_TEMPLATE_MODULE_ENDED_COMMAND_RULE_H

// Which object a naming command (the clone, an image create, the template
// create) made when a termination ended it before it printed the object's ID:
// only one that can be nobody else's.

#include <string>
#include <vector>

#include "opennebula/pool_objects.h"

namespace kevra_template {

// What the run knew when it started a naming command: the name it gave the
// object, and the highest ID of that pool in a listing made right before
// (empty when the pool was empty). An empty name: no command is pending.
struct naming_command_start {
    std::string name;
    std::string highest_id_before;
};

// The platform user that the CLI makes this program's objects as: the
// program runs the CLI on the front host as the platform's administrator.
const std::string& command_object_owner();

// True when `object` can only be what the command `start` made: it bears the
// exact name, belongs to `owner`, and its ID is above every ID seen before.
bool made_by_ended_command(const hx_opennebula_common::pool_object& object, const naming_command_start& start,
                           const std::string& owner);

// The objects of `pool` that made_by_ended_command takes, in pool order.
std::vector<hx_opennebula_common::pool_object> made_by_ended_command(
    const std::vector<hx_opennebula_common::pool_object>& pool, const naming_command_start& start,
    const std::string& owner);

// The objects of `pool` named exactly `name`, each as "ID (owner UNAME)",
// joined by ", "; "none" when there are none.
std::string objects_named(const std::vector<hx_opennebula_common::pool_object>& pool, const std::string& name);

// How a record states the ID bound of `start`: "made after ID 5", or "made
// when the pool was empty".
std::string made_after_text(const naming_command_start& start);

// How the record of what stays behind names the object that the pending
// command `start` may make: "a template named 'bk1' of the owner oneadmin
// made after ID 5" (`kind` "template" or "image").
std::string pending_object_text(const char* kind, const naming_command_start& start);

}  // namespace kevra_template

#endif
