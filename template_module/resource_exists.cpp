// Whether the template to back up exists on the platform as exactly one
// template; its ID is kept for the backup's later steps.
#include "template_module/hx_module_kevra_template.h"

#include "common/hx_logger.h"
#include "opennebula/template_queries.h"

bool HxModuleKevraTemplate::resource_exists()
{
    // A name that several templates share names none of them: the look-up fails with the platform's message.
    if (hx_opennebula_common::get_template_id(options_.resource, source_template_id_) == 0) {
        return true;
    }
    HxLogStream(HxLogLvl::Error) << __PRETTY_FUNCTION__ << ": resource doesn't exist: " << options_.resource
                                 << std::endl;
    return false;
}
