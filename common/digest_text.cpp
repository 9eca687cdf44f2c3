#include "common/digest_text.h"
#include "common/output_lines.h"

#include <iostream>

namespace hx_utils_common {
namespace {

const char kHexDigits[] = "0123456789abcdef";

void append_hex(std::string& text, unsigned char byte)
{
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0f];
}

}  // namespace

void print_digest(unsigned char* digest, unsigned int bits)
{
    std::string line;
    for (unsigned int i = 0; i < bits / 8; ++i) {
        append_hex(line, digest[i]);
        line += ' ';
    }
    kelvomar::output::print_line(line);
}

std::string digest_as_string(const unsigned char* digest, unsigned int bytes)
{
    std::string text;
    text.reserve(static_cast<std::string::size_type>(bytes) * 2);
    for (unsigned int i = 0; i < bytes; ++i) {
        append_hex(text, digest[i]);
    }
    return text;
}

}  // namespace hx_utils_common
