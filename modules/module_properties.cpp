// The property report of operation 17.
#include <iostream>

#include "modules/hx_module_universal.h"

namespace {

const char* as_text(bool value)
{
    return value ? "true" : "false";
}

}  // namespace

void HxModuleUniversal::module_properties()
{
    std::cout << "Module properties:" << std::endl << std::endl;
    std::cout << "Only one data source backup operation is allowed at one time       : "
              << as_text(options_.one_operation_per_resource) << std::endl;
    std::cout << "Does the module support working in the client's autonomous mode    : "
              << as_text(options_.autonomous_supported) << std::endl;
    std::cout << "Does the module support incremental backup                         : "
              << as_text(options_.incremental_supported) << std::endl;
    std::cout << "Does the module support differential backup                        : "
              << as_text(options_.differential_supported) << std::endl;
    std::cout << "Does this module support deduplication                             : "
              << as_text(options_.dedup_supported) << std::endl;
    std::cout << "Does this module support archiving                                 : "
              << as_text(options_.archiving_supported) << std::endl;
    // The last line has no line end.
    std::cout << "Location of the restriction list                                   : "
              << options_.restriction_list_file << std::flush;
}
