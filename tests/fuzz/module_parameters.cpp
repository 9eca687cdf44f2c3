// The module-parameter string (option -e): the framework's settings, the
// engine flags and the template module's own parameters.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "template_module/entry_point.h"
#include "template_module/hx_module_kevra_template.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HxModuleOptions options = kevra_template::template_module_options();
    options.module_params = kevra_fuzz::input_text(data, size);
    HxModuleKevraTemplate module(options);
    try {
        module.parce_param_string();
    } catch (const std::exception&) {
        // a malformed number: the command line is unusable, as the caller reports
    }
    return 0;
}
