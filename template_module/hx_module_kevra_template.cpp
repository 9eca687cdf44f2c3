// Construction of the template module and its small answers to the framework:
// version, usage, configuration, backup options, restore parameters and its
// own module parameters.
#include "template_module/hx_module_kevra_template.h"

#include <algorithm>
#include <iostream>

#include "common/hx_logger.h"
#include "common/hx_version.h"

namespace {

const std::uint32_t kDefaultDdBlockSize = 5;
const std::uint32_t kMaxDdBlockSize = 100;

// The template parameters' booleans can only be switched on, by these exact words.
bool is_yes(const std::string& value)
{
    return value == "t" || value == "true" || value == "y" || value == "yes";
}

}  // namespace

const std::array<std::string, 15> HxModuleKevraTemplate::kSupportedVersions = {
    "Kevra 2.4-rc3", "Kevra 2.5-rc2", "Kevra 2.4", "Kevra 2.5", "Kevra 2.6 RC2",
    "Kevra 2.6",     "Kevra 2.7 RC2", "Kevra 2.7", "Kevra 2.9", "2.12",
    "3.0",           "3.1",           "3.2",       "3.3",       "3.3.1"};

HxModuleKevraTemplate::HxModuleKevraTemplate(HxModuleOptions options) : HxModuleUniversal(options) {}

HxModuleKevraTemplate::~HxModuleKevraTemplate() = default;

bool HxModuleKevraTemplate::load_module_config()
{
    return true;
}

void HxModuleKevraTemplate::usage_custom() {}

std::string HxModuleKevraTemplate::get_full_module_version()
{
    return kelvomar::version_current_string + "." + "2fad7c4";
}

void HxModuleKevraTemplate::autonomous_options()
{
    std::cout << "dd_block_size" << "\t\t : [integer] \t" << "- Block size for dd operations, Units: Megabytes"
              << ". Default Value: 5" << std::endl;
    std::cout << "backup_only_config" << "\t : [boolean] \t"
              << "- If true - backup the template configuration only (do not backup its images)"
              << ". Default Value: false" << std::endl;
    std::cout << "new_name" << "\t\t : [string] \t" << "- The template name that is to be used to restore the template"
              << ". Default Value: empty string" << std::endl;
}

void HxModuleKevraTemplate::list_restore_parameters()
{
    std::cout << "set_images_persistent" << ": bool :false:"
              << "Flag indicating that all images for template will be restored as 'PERSISTENT' ones:" << std::endl;
    std::cout << "restore_only_config" << ": bool :false:"
              << "Flag indicating that only template configuration should be restored without creation of its images:"
              << std::endl;
    std::cout << "new_name" << ": string ::" << "A template name that is to be used to restore the template:"
              << std::endl;
    std::cout << "dd_block_size" << ": integer ::" << "Specifies block size in megabytes for dd operations:"
              << std::endl;
}

void HxModuleKevraTemplate::load_custom_module_parameters()
{
    std::string value;
    if (find_special_param("dd_block_size", value)) {
        // Leading blanks skipped, trailing characters ignored; a value that is
        // not a number in the signed 32-bit range throws.
        const auto size = static_cast<std::uint32_t>(std::stoi(value));
        if (size >= 1 && size <= kMaxDdBlockSize) {
            template_conf_.dd_block_size = size;
        } else {
            template_conf_.dd_block_size = kDefaultDdBlockSize;
            HxLogStream(HxLogLvl::Info) << "Selected value '" << size << "' for parameter '" << "dd_block_size"
                                        << "' is out of range [1, " << kMaxDdBlockSize << "]\n"
                                        << "The default value will be used: " << kDefaultDdBlockSize << " (MB)"
                                        << std::endl;
        }
    }
    if (find_special_param("backup_only_config", value) && is_yes(value)) {
        template_conf_.backup_only_config = true;
    }
    if (find_special_param("restore_only_config", value) && is_yes(value)) {
        template_conf_.restore_only_config = true;
    }
    if (find_special_param("set_images_persistent", value) && is_yes(value)) {
        template_conf_.set_images_persistent = true;
    }
    if (find_special_param("new_name", value)) {
        value.erase(std::remove(value.begin(), value.end(), ';'), value.end());
        template_conf_.new_name = value;
    }
}
