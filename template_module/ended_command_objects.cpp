// What a command that names what it made may have made when a termination
// ended it before it printed an ID: the objects of the exact name that the
// run chose for it (a name that was free before the command ran), found in
// the pool and deleted by their IDs, never by the name.
#include "template_module/hx_module_kevra_template.h"

#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/template_queries.h"

bool HxModuleKevraTemplate::delete_templates_named(const std::string& name, bool with_images,
                                                   const std::string& signature)
{
    std::vector<std::string> ids;
    if (hx_opennebula_common::get_template_ids_by_name(name, ids) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't find out whether the ended command made a template named '"
                                     << name << "'" << std::endl;
        return false;
    }
    bool deleted = true;
    for (const std::string& id : ids) {
        HxLogStream(HxLogLvl::Info) << "Removing the template " << id << " named '" << name
                                    << "' that the ended command made" << std::endl;
        if (hx_opennebula_common::delete_template(id, name, with_images) != 0) {
            HxLogStream(HxLogLvl::Error) << signature << ": can't delete the template: " << name << std::endl;
            deleted = false;
        }
    }
    return deleted;
}

bool HxModuleKevraTemplate::delete_images_named(const std::string& name, const std::string& signature)
{
    std::vector<std::string> ids;
    if (hx_opennebula_common::get_image_ids_by_name(name, ids) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't find out whether the ended command made an image named '"
                                     << name << "'" << std::endl;
        return false;
    }
    for (const std::string& id : ids) {
        HxLogStream(HxLogLvl::Info) << "Removing the image " << id << " named '" << name
                                    << "' that the ended command made" << std::endl;
        hx_opennebula_common::delete_image(id);
    }
    return true;
}
