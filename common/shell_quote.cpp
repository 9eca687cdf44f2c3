#include "common/shell_quote.h"

namespace kelvomar {

namespace {

// Characters no POSIX shell gives a meaning to inside a word.
bool is_plain_char(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '_': case '@': case '%': case '+': case '=':
    case ':': case ',': case '.': case '/': case '-':
        return true;
    default:
        return false;
    }
}

bool is_plain_word(const std::string& value)
{
    if (value.empty())
        return false;
    for (char c : value)
        if (!is_plain_char(c))
            return false;
    return true;
}

}  // namespace

std::string shell_quote(const std::string& value, quote_style style)
{
    if (style == quote_style::when_needed && is_plain_word(value))
        return value;

    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '\'';
    for (char c : value) {
        if (c == '\'')
            quoted += "'\\''";  // close the quotes, an escaped quote, reopen
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

}  // namespace kelvomar
