// An archive's template.xml (root TEMPLATE) as a restore reads it back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "opennebula/template_xml_files.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kevra_fuzz::memory_file file(kevra_fuzz::input_text(data, size));
    std::string name;
    hx_opennebula_common::get_template_name_from_file(file.path(), name);
    return 0;
}
