#pragma once
// The string cipher as a function of its text: what encrypt_string and
// decrypt_string leave in the text they are given.

#include <string>

#include "crypto/string_cipher.h"

namespace kevra_test {

// `text` after encrypt_string.
inline std::string encrypted(std::string text)
{
    hx_utils_common::server::encrypt_string(text);
    return text;
}

// `text` after decrypt_string.
inline std::string decrypted(std::string text)
{
    hx_utils_common::server::decrypt_string(text);
    return text;
}

}  // namespace kevra_test
