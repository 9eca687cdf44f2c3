#ifndef KEVRA_COMMON_SHELL_QUOTE_H
#define KEVRA_COMMON_SHELL_QUOTE_H

#include <string>

namespace kelvomar {

// How shell_quote writes a value.
enum class quote_style {
    when_needed,  // unchanged when it is a plain word, else single-quoted
    always        // always single-quoted
};

// Returns `value` as exactly one word of a POSIX shell command line; never throws
// (beyond std::bad_alloc). when_needed leaves a non-empty value of only
// A-Za-z0-9 _ @ % + = : , . / - unchanged; anything else, and every value under
// always, is wrapped in single quotes with each ' written as '\''.
std::string shell_quote(const std::string& value, quote_style style = quote_style::when_needed);

}  // namespace kelvomar

#endif
