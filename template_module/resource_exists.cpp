// Whether the template to back up exists on the platform.
#include "template_module/hx_module_kevra_template.h"

#include "common/hx_logger.h"
#include "opennebula/template_queries.h"

bool HxModuleKevraTemplate::resource_exists()
{
    if (hx_opennebula_common::does_template_name_exist(options_.resource)) {
        return true;
    }
    HxLogStream(HxLogLvl::Error) << __PRETTY_FUNCTION__ << ": resource doesn't exist: " << options_.resource
                                 << std::endl;
    return false;
}
