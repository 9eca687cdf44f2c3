// The electronic-signature JSON (option --esign).
#include <cstddef>
#include <cstdint>
#include <string>

#include "template_module/entry_point.h"
#include "template_module/hx_module_kevra_template.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HxModuleKevraTemplate module(kevra_template::template_module_options());
    std::string archive_name;
    std::string archive_sign;
    std::string snapshot_sign;
    module.parse_esign_json(kevra_fuzz::input_text(data, size), archive_name, archive_sign, snapshot_sign);
    return 0;
}
