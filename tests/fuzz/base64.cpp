// Base64: any decoded text encodes back to a text that decodes to it again,
// and any input survives encoding and decoding unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/base64.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using hx_utils_common::base64_decode;
    using hx_utils_common::base64_encode;
    const std::string text = kevra_fuzz::input_text(data, size);
    if (base64_decode(base64_encode(text)) != text) {
        std::abort();
    }
    const std::string decoded = base64_decode(text);
    if (base64_decode(base64_encode(decoded)) != decoded) {
        std::abort();
    }
    return 0;
}
