#include "common/base64.h"

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace hx_utils_common {
namespace {

namespace it = boost::archive::iterators;

using Encoder = it::base64_from_binary<it::transform_width<std::string::const_iterator, 6, 8>>;
using Decoder = it::transform_width<it::binary_from_base64<std::string::const_iterator>, 8, 6>;

bool in_alphabet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

// The iterators pull whole input units while they assemble the last output
// unit, so each side works on a copy lengthened with zero bits to a whole
// group and takes exactly as many output units as the real input carries:
// nothing is ever read past the input.

std::string base64_encode(const std::string& text)
{
    try {
        const std::size_t groups = (text.size() + 2) / 3;
        std::string padded(text);
        padded.append(groups * 3 - text.size(), '\0');
        const std::size_t digits = (text.size() * 8 + 5) / 6;
        std::string encoded;
        encoded.reserve(groups * 4);
        std::copy_n(Encoder(padded.cbegin()), digits, std::back_inserter(encoded));
        encoded.append(groups * 4 - digits, '=');
        return encoded;
    } catch (...) {
        return std::string();
    }
}

std::string base64_decode(const std::string& text)
{
    try {
        std::size_t length = text.size();
        for (int pad = 0; pad < 2 && length > 0 && text[length - 1] == '='; ++pad) {
            --length;
        }
        if (!std::all_of(text.cbegin(), text.cbegin() + static_cast<std::ptrdiff_t>(length), in_alphabet)) {
            return std::string();
        }
        std::string padded(text, 0, length);
        padded.append((4 - length % 4) % 4, 'A');  // 'A' carries zero bits
        const std::size_t bytes = length * 6 / 8;
        std::string decoded;
        decoded.reserve(bytes);
        std::copy_n(Decoder(padded.cbegin()), bytes, std::back_inserter(decoded));
        return decoded;
    } catch (...) {
        return std::string();
    }
}

}  // namespace hx_utils_common
