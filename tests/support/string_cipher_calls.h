#pragma once
// The string cipher called the way the tests check it: each call must succeed.

#include <gtest/gtest.h>

#include <string>

#include "crypto/string_cipher.h"

namespace kevra_test {

// `text` encrypted in place; fails the test when the cipher refuses it.
inline std::string encrypted(std::string text)
{
    EXPECT_TRUE(hx_utils_common::server::encrypt_string(text));
    return text;
}

// `text` decrypted in place; fails the test when the cipher refuses it.
inline std::string decrypted(std::string text)
{
    EXPECT_TRUE(hx_utils_common::server::decrypt_string(text));
    return text;
}

}  // namespace kevra_test
