// What a command that names what it made may have made when a termination
// ended it before it printed an ID: found in the pool by the name the run
// gave it, and deleted by its ID only when it can be nobody else's (its
// owner is the user the command makes objects as, its ID above every ID the
// run saw right before the command). Anything else is named for the
// operator and stays.
#include "template_module/hx_module_kevra_template.h"

#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/template_queries.h"
#include "template_module/ended_command_rule.h"

namespace {

using hx_opennebula_common::pool_object;
using kevra_template::naming_command_start;

// The one object of `pool` that the ended command `start` made, into `made`;
// false after an Error record (after `signature`) that names every object of
// that name by ID and owner when none or several can be the command's.
bool the_made_object(const std::vector<pool_object>& pool, const naming_command_start& start, const char* kind,
                     const std::string& signature, pool_object& made)
{
    const std::string& owner = kevra_template::command_object_owner();
    const std::vector<pool_object> found = kevra_template::made_by_ended_command(pool, start, owner);
    const std::string which = " named '" + start.name + "' of the owner " + owner + " " +
                              kevra_template::made_after_text(start) + " ";
    if (found.size() != 1) {
        HxLogStream(HxLogLvl::Error)
            << signature << ": "
            << (found.empty() ? std::string("no ") + kind + which + "is found after the ended command"
                              : std::to_string(found.size()) + " " + kind + "s" + which +
                                    "are found after the ended command, and which one it made can't be told")
            << "; none is deleted; the " << kind << "s of that name: " << kevra_template::objects_named(pool, start.name)
            << std::endl;
        return false;
    }
    made = found.front();
    HxLogStream(HxLogLvl::Info) << "Removing the " << kind << " " << made.id << " named '" << made.name << "' (owner "
                                << made.owner << ", " << kevra_template::made_after_text(start)
                                << ") found by name after the ended command" << std::endl;
    return true;
}

}  // namespace

bool HxModuleKevraTemplate::find_template_of_ended_command(const naming_command_start& start,
                                                           const std::string& signature, pool_object& made)
{
    std::vector<pool_object> pool;
    if (hx_opennebula_common::get_template_pool(pool) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't find out whether the ended command made a template named '"
                                     << start.name << "'" << std::endl;
        return false;
    }
    return the_made_object(pool, start, "template", signature, made);
}

bool HxModuleKevraTemplate::delete_template_of_ended_command(const naming_command_start& start,
                                                             const std::string& signature)
{
    pool_object made;
    if (!find_template_of_ended_command(start, signature, made)) {
        return false;
    }
    if (hx_opennebula_common::delete_template(made.id, start.name, false) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't delete the template: " << start.name << std::endl;
        return false;
    }
    return true;
}

bool HxModuleKevraTemplate::delete_image_of_ended_command(const naming_command_start& start,
                                                          const std::string& signature, std::string& kept_id)
{
    kept_id.clear();
    std::vector<pool_object> pool;
    if (hx_opennebula_common::get_image_pool(pool) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't find out whether the ended command made an image named '"
                                     << start.name << "'" << std::endl;
        return false;
    }
    pool_object made;
    if (!the_made_object(pool, start, "image", signature, made)) {
        return false;
    }
    // A failed deletion is logged by the call; the image is the run's and stays.
    if (hx_opennebula_common::delete_image(made.id) != 0) {
        kept_id = made.id;
        return false;
    }
    return true;
}
