// The JSON resource list file of a list backup (option -B).
#include <cstddef>
#include <cstdint>

#include "modules/resource_list.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kevra_fuzz::memory_file file(kevra_fuzz::input_text(data, size));
    ResourceList list;
    if (list.parse_json_file(file.path())) {
        list.check_local_restrictions({"", "one"});
    }
    return 0;
}
