// Archiving mode: after a successful full backup the backed-up template is
// deleted, by the ID it had when the backup read it.
#include "template_module/hx_module_kevra_template.h"

#include <string>

#include "common/hx_logger.h"
#include "opennebula/template_queries.h"

void HxModuleKevraTemplate::make_archiving()
{
    const std::string& source = options_.resource;
    HxLogStream(HxLogLvl::Info) << "Archive (delete) the resource: " << source << std::endl;
    int result = 0;
    if (template_conf_.backup_only_config) {
        // Only the configuration is in the archive: the images stay on the platform.
        HxLogStream(HxLogLvl::Info) << "Only the configuration of the template '" << source
                                    << "' was backed up: its images are kept" << std::endl;
        result = hx_opennebula_common::delete_template(source_template_id_, source, false);
    } else {
        result = hx_opennebula_common::delete_template(source_template_id_, source);
    }
    if (result != 0) {
        HxLogStream(HxLogLvl::Error) << __PRETTY_FUNCTION__ << ": can't delete the template: " << source << std::endl;
        return;
    }
    HxLogStream(HxLogLvl::Info) << "The template '" << source << "' has been removed" << std::endl;
}
