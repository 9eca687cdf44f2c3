#ifndef KEVRA_COMMON_DIGEST_TEXT_H
#define KEVRA_COMMON_DIGEST_TEXT_H

// Digests as lower-case hexadecimal text, first byte first.

#include <string>

namespace hx_utils_common {

// Writes the first bits / 8 bytes of `digest` to standard output, each as two
// lower-case hexadecimal digits and a blank, then a newline, and flushes.
void print_digest(unsigned char* digest, unsigned int bits);

// Returns `bytes` bytes of `digest` as two lower-case hexadecimal digits each,
// first byte first, without separators. Never throws (beyond std::bad_alloc).
std::string digest_as_string(const unsigned char* digest, unsigned int bytes);

}  // namespace hx_utils_common

#endif
