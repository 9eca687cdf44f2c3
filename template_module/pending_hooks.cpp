// Hooks of the template module that this build does not provide yet. Each one
// fails honestly: it logs "<signature>: not available in this build" at Error
// and returns its failure value, so no run that reaches one reports success.
// A hook that is implemented moves into its own source file and leaves this one.
#include "common/hx_logger.h"
#include "template_module/hx_module_kevra_template.h"

namespace {

void not_available(const char* signature)
{
    HxLogStream(HxLogLvl::Error) << signature << ": not available in this build" << std::endl;
}

}  // namespace

#define KEVRA_NOT_AVAILABLE() not_available(__PRETTY_FUNCTION__)

// ---- Restore and replica ---------------------------------------------------------------

bool HxModuleKevraTemplate::before_restore()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleKevraTemplate::after_restore()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleKevraTemplate::after_restore_last_file()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleKevraTemplate::deployment(const bool& /*replica*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

int HxModuleKevraTemplate::get_backup_images(bool /*must_exist*/,
                                             std::vector<hx_opennebula_common::oneimage>& /*images*/)
{
    KEVRA_NOT_AVAILABLE();
    return 12;
}

int HxModuleKevraTemplate::set_image_attributes(std::string& /*line*/, hx_opennebula_common::oneimage& /*image*/,
                                                bool /*must_exist*/)
{
    KEVRA_NOT_AVAILABLE();
    return 12;
}

int HxModuleKevraTemplate::get_free_image_name(std::string& /*name*/)
{
    KEVRA_NOT_AVAILABLE();
    return 12;
}

int HxModuleKevraTemplate::create_one_image(const std::string& /*path*/, hx_opennebula_common::oneimage& /*image*/)
{
    KEVRA_NOT_AVAILABLE();
    return 12;
}

bool HxModuleKevraTemplate::replace_template_images(const std::string& /*template_name*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}
