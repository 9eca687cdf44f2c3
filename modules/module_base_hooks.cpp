// Base bodies of the virtual operations whose default answer is fixed by the
// module class itself; a concrete module may override each of them.
#include "modules/hx_module_universal.h"

bool HxModuleUniversal::check_supported_client_defined_storage(int /*storage_type*/)
{
    return false;
}

void HxModuleUniversal::list_restore_parameters() {}

void HxModuleUniversal::load_custom_module_parameters() {}

bool HxModuleUniversal::need_esign_for_operation(HxModuleOperations operation)
{
    return operation == op_verify_in_client_defined_storage;
}

int HxModuleUniversal::get_config_option_presence_type(const std::string& /*name*/)
{
    return 0;
}

std::string HxModuleUniversal::resolve_config_option_merge_conflict(const std::string& /*name*/,
                                                                    const std::string& value)
{
    return value;
}
