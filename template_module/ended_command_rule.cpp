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

std::string clone_image_name(const std::string& clone, std::size_t disk_index)
{
    return clone + "-disk-" + std::to_string(disk_index);
}

namespace {

bool listed(const std::vector<pool_object>& objects, const pool_object& object)
{
    for (const pool_object& o : objects) {
        if (o.id == object.id) {
            return true;
        }
    }
    return false;
}

// The pool's images that `disk` can refer to: the one of its ID, or those of
// its name (and of its owner's name when the DISK gives IMAGE_UNAME).
std::vector<pool_object> referred_images(const hx_opennebula_common::template_disk_image& disk,
                                         const std::vector<pool_object>& pool)
{
    std::vector<pool_object> found;
    for (const pool_object& object : pool) {
        const bool owner_fits = disk.owner_field == nullptr || std::string(disk.owner_field) != "UNAME" ||
                                object.owner == disk.owner;
        if (disk.by_id ? object.id == disk.value : object.name == disk.value && owner_fits) {
            found.push_back(object);
        }
    }
    return found;
}

}  // namespace

ended_clone_images sort_ended_clone_images(const std::string& clone,
                                           const std::vector<hx_opennebula_common::template_disk_image>& disks,
                                           const std::vector<pool_object>& pool,
                                           const std::string& highest_image_before, const std::string& owner)
{
    ended_clone_images sorted;
    std::vector<pool_object> named;
    for (const hx_opennebula_common::template_disk_image& disk : disks) {
        const naming_command_start copy{clone_image_name(clone, disk.disk_index), highest_image_before};
        const std::vector<pool_object> referred = referred_images(disk, pool);
        if (referred.size() == 1) {
            const pool_object& image = referred.front();
            if (made_by_ended_command(image, copy, owner)) {
                if (!listed(sorted.own, image)) {
                    sorted.own.push_back(image);
                }
            } else if (!listed(named, image)) {
                named.push_back(image);
            }
        } else {
            sorted.unknown.push_back(disk.by_id ? "ID " + disk.value + " (not in the image pool)"
                                                : "'" + disk.value + "' (the images of that name: " +
                                                      objects_named(pool, disk.value) + ")");
        }
        // A copy of this disk's image that the disk does not name yet.
        for (const pool_object& image : made_by_ended_command(pool, copy, owner)) {
            if (!listed(sorted.own, image)) {
                sorted.own.push_back(image);
            }
        }
    }
    for (const pool_object& image : named) {
        if (!listed(sorted.own, image)) {
            sorted.others.push_back(image);
        }
    }
    return sorted;
}

}  // namespace kevra_template
