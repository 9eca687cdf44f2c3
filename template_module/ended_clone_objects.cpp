// The clone that a termination ended before its command printed an ID. The
// platform clones a template with its images in two steps: the new template
// first, its disks still naming the source template's images, then a copy
// of each image, to which its disk is switched. Between the two the clone's
// disks name images that are not the run's, so the clone is deleted without
// them, and only its own copies go, by ID.
#include "template_module/hx_module_kevra_template.h"

#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/leftovers.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/template_queries.h"
#include "template_module/ended_command_rule.h"

namespace {

using hx_opennebula_common::pool_object;

std::string ids_text(const std::vector<pool_object>& images)
{
    std::string text;
    for (const pool_object& image : images) {
        text += (text.empty() ? "ID " : ", ID ") + image.id;
    }
    return text;
}

}  // namespace

bool HxModuleKevraTemplate::delete_clone_of_ended_command(const kevra_template::naming_command_start& start,
                                                          const std::string& highest_image_before,
                                                          const std::string& signature)
{
    pool_object clone;
    if (!find_template_of_ended_command(start, signature, clone)) {
        return false;
    }
    const std::string which = "the ended clone '" + start.name + "' (template " + clone.id + ")";
    std::vector<hx_opennebula_common::template_disk_image> disks;
    std::vector<pool_object> images;
    if (hx_opennebula_common::get_template_disk_images(clone.id, disks) != 0 ||
        hx_opennebula_common::get_image_pool(images) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't tell which images " << which
                                     << " names; neither it nor any image is deleted" << std::endl;
        return false;
    }
    const std::string& owner = kevra_template::command_object_owner();
    const kevra_template::ended_clone_images sorted =
        kevra_template::sort_ended_clone_images(start.name, disks, images, highest_image_before, owner);
    kelvomar::leftovers::note("clone", "the clone template '" + start.name + "' ID " + clone.id +
                                           (sorted.own.empty() ? std::string(" with no images of its own")
                                                               : " with its images " + ids_text(sorted.own)));
    for (const pool_object& image : sorted.others) {
        HxLogStream(HxLogLvl::Error) << signature << ": the image " << image.id << " (owner " << image.owner
                                     << ") named '" << image.name << "' that " << which
                                     << " names is not a copy of its own; it stays" << std::endl;
    }
    for (const std::string& image : sorted.unknown) {
        HxLogStream(HxLogLvl::Error) << signature << ": the image " << image << " that " << which
                                     << " names can't be told for certain; it stays" << std::endl;
    }
    // Without its images: the disks may still name the source template's.
    if (hx_opennebula_common::delete_template(clone.id, start.name, false) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't delete the template: " << start.name << std::endl;
        return false;
    }
    kelvomar::leftovers::forget("clone");
    for (const pool_object& image : sorted.own) {
        kelvomar::leftovers::note("clone-image " + image.id, "the clone's image '" + image.name + "' ID " + image.id);
    }
    bool all_gone = true;
    for (const pool_object& image : sorted.own) {
        HxLogStream(HxLogLvl::Info) << "Removing the image " << image.id << " named '" << image.name << "' (owner "
                                    << image.owner << ", "
                                    << kevra_template::made_after_text({image.name, highest_image_before})
                                    << "), a copy of " << which << std::endl;
        if (hx_opennebula_common::delete_image(image.id) == 0) {
            kelvomar::leftovers::forget("clone-image " + image.id);
        } else {
            all_gone = false;
        }
    }
    if (!all_gone) {
        HxLogStream(HxLogLvl::Error) << signature << ": not every image of " << which << " could be deleted"
                                     << std::endl;
    }
    return all_gone;
}
