#include "common/human_size.h"

#include <cstddef>
#include <iomanip>
#include <locale>
#include <sstream>
#include <vector>

namespace hx_utils_common {

std::string size_to_human(float size, unsigned int precision)
{
    static const std::vector<std::string> units = {"B", "kB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    // A finite float needs at most 13 divisions; the bound stops an infinite
    // size, which dividing never makes smaller.
    constexpr std::size_t kMaxDivisions = 64;
    std::size_t divisions = 0;
    while (size >= 1024 && divisions < kMaxDivisions) {
        size /= 1024;
        ++divisions;
    }

    std::ostringstream number;
    number.imbue(std::locale::classic());
    number << std::fixed << std::setprecision(static_cast<int>(precision)) << size;
    std::string text = number.str();

    const std::string zero_fraction = "." + std::string(precision, '0');
    for (std::string::size_type at = text.find(zero_fraction); at != std::string::npos;
         at = text.find(zero_fraction, at)) {
        // Only "." and exactly `precision` zeros: not the start of a longer run.
        const std::string::size_type after = at + zero_fraction.size();
        if (after < text.size() && text[after] == '0') {
            at = after;
            continue;
        }
        text.erase(at, zero_fraction.size());
    }

    text += ' ';
    text += divisions < units.size() ? units[divisions] : std::string("Unknown");
    return text;
}

}  // namespace hx_utils_common
