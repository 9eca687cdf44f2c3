// Archiving mode: after a successful full backup the backed-up template is deleted.
#include "template_module/hx_module_kevra_template.h"

#include <string>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "opennebula/template_queries.h"

namespace {

// Deletes template `name` and leaves its images in place; 0 on success, 1 after logging.
int delete_template_only(const std::string& name)
{
    const std::string command =
        "/usr/bin/onetemplate delete " + kelvomar::shell_quote(name, kelvomar::quote_style::always);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << "Command was: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace

void HxModuleKevraTemplate::make_archiving()
{
    const std::string& source = options_.resource;
    HxLogStream(HxLogLvl::Info) << "Archive (delete) the resource: " << source << std::endl;
    int result = 0;
    if (template_conf_.backup_only_config) {
        // Only the configuration is in the archive: the images stay on the platform.
        HxLogStream(HxLogLvl::Info) << "Only the configuration of the template '" << source
                                    << "' was backed up: its images are kept" << std::endl;
        result = delete_template_only(source);
    } else {
        result = hx_opennebula_common::delete_template(source);
    }
    if (result != 0) {
        HxLogStream(HxLogLvl::Error) << __PRETTY_FUNCTION__ << ": can't delete the template: " << source << std::endl;
        return;
    }
    HxLogStream(HxLogLvl::Info) << "The template '" << source << "' has been removed" << std::endl;
}
