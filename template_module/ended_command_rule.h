#ifndef KEVRA_TEMPLATE_MODULE_ENDED_COMMAND_RULE_H
#define KEVRA_TEMPLATE_MODULE_ENDED_COMMAND_RULE_H

// Which object a naming command (the clone, an image create, the template
// create) made when a termination ended it before it printed the object's ID:
// only one that can be nobody else's.

#include <cstddef>
#include <string>
#include <vector>

#include "opennebula/pool_objects.h"
#include "opennebula/template_queries.h"

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

// The name the platform gives the copy of the image of the DISK at
// `disk_index` (every DISK counted from 0) when it clones a template with its
// images as `clone`: "<clone>-disk-<disk_index>".
std::string clone_image_name(const std::string& clone, std::size_t disk_index);

// The images of a clone that a termination ended between its two steps (the
// template made, its disks not all switched to their copies yet).
struct ended_clone_images {
    // The clone's own copies, to be deleted by ID: each bears the copy name of
    // its disk, belongs to the owner the command makes objects as, and has an
    // ID above every image ID seen right before the clone; also such a copy
    // that no disk names yet.
    std::vector<hx_opennebula_common::pool_object> own;
    // The images its disks name that are not its own copies (the source
    // template's, or another's): they stay.
    std::vector<hx_opennebula_common::pool_object> others;
    // The disk references that name no single image of the pool, as texts for
    // the record: "ID 7 (not in the image pool)", or "'web-data' (the images
    // of that name: ...)".
    std::vector<std::string> unknown;
};

// Sorts the images that the `disks` of the ended clone `start` (its name;
// the template's ID bound is not used) refer to, against the image `pool`
// read after the command ended; `highest_image_before` is the highest image
// ID of the listing right before the clone (empty for an empty pool). A DISK
// named by IMAGE and IMAGE_UNAME refers to the image of that name and owner;
// by IMAGE alone (or with IMAGE_UID) to the one image of that name. Each
// image appears once, in the order the disks name it, an own copy never
// among the others.
ended_clone_images sort_ended_clone_images(const std::string& clone,
                                           const std::vector<hx_opennebula_common::template_disk_image>& disks,
                                           const std::vector<hx_opennebula_common::pool_object>& pool,
                                           const std::string& highest_image_before, const std::string& owner);

}  // namespace kevra_template

#endif
