#include "opennebula/object_ids.h"

#include <algorithm>
#include <cctype>

namespace hx_opennebula_common {

bool is_object_id(const std::string& text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string printed_object_id(const std::string& output)
{
    static const std::string kMarker = "ID: ";
    for (std::string::size_type at = output.find(kMarker); at != std::string::npos;
         at = output.find(kMarker, at + 1)) {
        if (at != 0 && output[at - 1] != '\n') {
            continue;
        }
        const std::string::size_type begin = at + kMarker.size();
        std::string::size_type end = output.find('\n', begin);
        if (end == std::string::npos) {
            end = output.size();
        }
        if (end > begin && output[end - 1] == '\r') {
            --end;
        }
        const std::string id = output.substr(begin, end - begin);
        if (is_object_id(id)) {
            return id;
        }
    }
    return std::string();
}

bool id_above(const std::string& id, const std::string& bound)
{
    const auto significant = [](const std::string& digits) {
        const std::string::size_type first = digits.find_first_not_of('0');
        return first == std::string::npos ? std::string() : digits.substr(first);
    };
    const std::string a = significant(id);
    const std::string b = significant(bound);
    return a.size() != b.size() ? a.size() > b.size() : a > b;
}

}  // namespace hx_opennebula_common
