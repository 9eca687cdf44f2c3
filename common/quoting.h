#ifndef KEVRA_COMMON_QUOTING_H
#define KEVRA_COMMON_QUOTING_H

// Quoting of names and paths in messages: the rule of std::quoted. The
// delimiter goes around the text, and each delimiter or escape character inside
// it is preceded by the escape character; nothing else changes. This is not
// shell quoting: for command lines use kelvomar::shell_quote.

#include <iomanip>
#include <sstream>
#include <string>
#include <type_traits>

namespace kelvomar {

// Returns `text` quoted as std::quoted writes it, in the text's own string type;
// never fails (beyond std::bad_alloc).
template <class String,
          class Plain = std::remove_cv_t<std::remove_reference_t<String>>,
          class CharT = typename Plain::value_type>
Plain make_quoted_std(String&& text, CharT delimiter = CharT('"'), CharT escape = CharT('\\'))
{
    std::basic_ostringstream<CharT, typename Plain::traits_type, typename Plain::allocator_type> stream;
    stream << std::quoted(static_cast<const Plain&>(text), delimiter, escape);
    return stream.str();
}

// Returns `text` between `delimiter`s with each delimiter and escape preceded by
// `escape`; never fails (beyond std::bad_alloc).
template <class CharT, class Traits, class Alloc>
std::basic_string<CharT, Traits, Alloc> as_quoted(const std::basic_string<CharT, Traits, Alloc>& text,
                                                  CharT delimiter = CharT('"'), CharT escape = CharT('\\'))
{
    return make_quoted_std(text, delimiter, escape);
}

// Returns `text` in single quotes, each ' and \ preceded by a backslash.
template <class CharT, class Traits, class Alloc>
std::basic_string<CharT, Traits, Alloc> as_quoted_single(const std::basic_string<CharT, Traits, Alloc>& text)
{
    return as_quoted(text, CharT('\''), CharT('\\'));
}

}  // namespace kelvomar

namespace kelvomar_common {

// Returns `text` in single quotes, each ' and \ preceded by a backslash.
inline std::string single_quoted(const std::string& text)
{
    return kelvomar::as_quoted_single(text);
}

}  // namespace kelvomar_common

#endif
