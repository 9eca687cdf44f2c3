#include "common/log_properties.h"

#include <limits>
#include <locale>

namespace hx_log_config {

namespace {

bool is_blank(char c) { return std::isspace(c, std::locale::classic()); }

// The text trimmed, each inner run of white space shortened to its first character.
std::string compressed(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_blank(text[i]) && (out.empty() || is_blank(text[i - 1]))) {
            continue;
        }
        out += text[i];
    }
    while (!out.empty() && is_blank(out.back())) {
        out.pop_back();
    }
    return out;
}

// Leading white space skipped, digits up to the first other character; no
// digit gives 0, a value too large for the type gives its largest value.
unsigned long unsigned_decimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) {
        ++i;
    }
    unsigned long value = 0;
    const unsigned long limit = std::numeric_limits<unsigned long>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned long digit = static_cast<unsigned long>(text[i] - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return value;
}

}  // namespace

log_properties read_log_properties(const hx_config::ConfigFile& config) {
    const std::string level_text = config["log_level"];
    const std::string size_text = config["log_file_max_size"];
    const std::string rotate_text = config["log_file_max_rotate"];

    log_properties properties;
    HxLogLvl::from_string(compressed(level_text), properties.level);
    properties.max_size_mb = unsigned_decimal(size_text);
    properties.max_rotate = unsigned_decimal(rotate_text);
    return properties;
}

}  // namespace hx_log_config
