// Version texts: the platform's version file as the host check reads it, and
// a full module version split into its parts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "modules/shell_escaping.h"
#include "opennebula/platform_command.h"
#include "template_module/hx_module_kevra_template.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = kevra_fuzz::input_text(data, size);
    const std::string version = hx_opennebula_common::without_newlines(text);
    const auto& known = HxModuleKevraTemplate::kSupportedVersions;
    (void)std::find(known.begin(), known.end(), version);
    std::string major_minor;
    std::string third;
    std::string fourth;
    split_full_version(text, major_minor, third, fourth);
    return 0;
}
