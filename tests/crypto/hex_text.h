#pragma once
// Hex text of bytes and back, for test vectors and failure messages.

#include <cstddef>
#include <string>
#include <vector>

namespace crypto_test {

// Two lower-case hex digits a byte, first byte first.
inline std::string hex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string hex(const std::vector<unsigned char>& v) { return hex(v.data(), v.size()); }

// The bytes of hex text, two digits each (a trailing odd digit is dropped).
inline std::vector<unsigned char> unhex(const std::string& s) {
    std::vector<unsigned char> v;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        v.push_back(static_cast<unsigned char>(std::stoul(s.substr(i, 2), nullptr, 16)));
    return v;
}

}  // namespace crypto_test
