#include "common/one_line_text.h"

namespace kelvomar {

namespace {

// True when the backslash at `at` would read as the start of an escape.
bool backslash_needs_escape(const std::string& text, std::size_t at)
{
    if (at + 1 == text.size())
        return true;
    const char next = text[at + 1];
    return next == '\\' || next == 'n' || next == 'r' || next == 't' || next == 'x';
}

}  // namespace

std::string one_line_text(const std::string& text)
{
    static const char kHexDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': line += backslash_needs_escape(text, at) ? "\\\\" : "\\"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        case '\t': line += "\\t"; break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                line += "\\x";
                line += kHexDigits[byte >> 4];
                line += kHexDigits[byte & 0x0f];
            } else {
                line += c;
            }
        }
    }
    return line;
}

std::string line_breaks_escaped(const std::string& text)
{
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    return line;
}

}  // namespace kelvomar
