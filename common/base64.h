#ifndef KEVRA_COMMON_BASE64_H
#define KEVRA_COMMON_BASE64_H

// Base64 with the standard alphabet and '=' padding (RFC 4648).

#include <string>

namespace hx_utils_common {

// Returns every byte of `text` (NUL included) in Base64, padded with '=' to a
// multiple of four characters; an empty text on any exception.
std::string base64_encode(const std::string& text);

// Returns the bytes that the Base64 text carries. Up to two '=' at the end are
// padding and may be left out; leftover bits that do not fill a byte are dropped.
// Any character outside the alphabet (blanks and line ends included), or a '='
// anywhere else, gives an empty text.
std::string base64_decode(const std::string& text);

}  // namespace hx_utils_common

#endif
