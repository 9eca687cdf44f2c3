// A process's /proc/<pid>/stat line, as the walk of the processes below the
// module reads it after a fault: any bytes, cut anywhere, in an exact-size
// buffer (so that a read beyond the length is caught).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/proc_stat_text.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    char* copy = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
    if (copy == nullptr) {
        return 0;
    }
    if (size != 0) {
        std::memcpy(copy, data, size);
    }
    hx_utils_common::proc_stat_fields fields;
    if (hx_utils_common::parse_proc_stat(copy, size, fields) && (fields.parent < 0 || fields.state == 0)) {
        std::abort();  // a parsed line always has a state letter and a parent id
    }
    std::free(copy);
    return 0;
}
