#pragma once
// Keyed hash of a text (HMAC-SHA256 under the key built into the program) and
// the hexadecimal text of a digest, last byte first. Resource lock files are
// named with them, so every process must arrive at the same text.

#include <array>
#include <iomanip>
#include <sstream>
#include <string>
#include <utility>

namespace kelvomar {
namespace hash {
namespace sha {

template <typename Digest>
struct Hasher;

// HMAC-SHA256 of a text's bytes under the built-in key.
template <>
struct Hasher<std::array<unsigned char, 32>> {
    // Returns the 32-byte MAC of text (no terminator, bytes as stored); never throws
    // except std::bad_alloc.
    std::array<unsigned char, 32> operator()(std::string text) &&;
};

// The keyed hash of text by a temporary Hasher; the caller's text is untouched.
template <typename Digest, typename Text>
Digest make_hash(Text text) {
    return Hasher<Digest>{}(std::move(text));
}

}  // namespace sha

// Lower-case hexadecimal, two digits a byte, from the last byte to the first.
template <typename Array>
std::string to_string(const Array& digest) {
    std::ostringstream out;
    out << std::hex << std::setfill('0') << std::right;
    for (auto it = digest.rbegin(); it != digest.rend(); ++it)
        out << std::setw(2) << static_cast<unsigned>(*it);
    return out.str();
}

}  // namespace hash
}  // namespace kelvomar
