// The validators of user and file texts; none may throw or crash, and a text
// that passes as an unsigned number must convert or be out of range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/validators.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hx_utils_common;
    const std::string text = kevra_fuzz::input_text(data, size);
    unsigned int value = 0;
    const bool converted = string_to_uint(text, value);
    if (converted && !is_uint(text)) {
        std::abort();
    }
    (void)is_time(text);
    (void)is_hostname(text);
    (void)is_email(text);
    (void)is_https_url_strict(text);
    (void)is_https_ip_strict(text);
    (void)is_ip_address(text);
    (void)is_valid_uuid(text);
    std::string message;
    check_password_complexity(text, message, false);
    return 0;
}
