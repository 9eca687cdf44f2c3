#include "common/proc_stat_text.h"

#include <climits>

namespace hx_utils_common {

bool parse_proc_stat(const char* text, std::size_t length, proc_stat_fields& fields) noexcept
{
    if (text == nullptr) {
        return false;
    }
    std::size_t name_end = length;
    for (std::size_t i = length; i > 0; --i) {
        if (text[i - 1] == ')') {
            name_end = i - 1;
            break;
        }
    }
    if (name_end == length) {
        return false;
    }
    // ") S ppid " : the state letter and the parent id, each after one blank.
    std::size_t at = name_end + 1;
    if (at + 2 >= length || text[at] != ' ' || text[at + 2] != ' ') {
        return false;
    }
    const char state = text[at + 1];
    if (state < 'A' || state > 'z') {
        return false;
    }
    at += 3;
    long long parent = 0;
    std::size_t digits = 0;
    for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        parent = parent * 10 + (text[at] - '0');
        if (parent > INT_MAX) {
            return false;
        }
    }
    // The parent id must be whole: a blank or the line's end follows it.
    if (digits == 0 || at >= length || (text[at] != ' ' && text[at] != '\n')) {
        return false;
    }
    fields.state = state;
    fields.parent = static_cast<int>(parent);
    return true;
}

}  // namespace hx_utils_common
