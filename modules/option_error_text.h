#ifndef KEVRA_MODULES_OPTION_ERROR_TEXT_H
#define KEVRA_MODULES_OPTION_ERROR_TEXT_H

#include <exception>
#include <string>

namespace kelvomar {
namespace module {

// The text of an exception from the command-line parser. The option library
// fills the %name% placeholders of its messages until none is left, so a
// value that holds its own placeholder (-z '%value%') would never end; every
// '%' of the command-line texts it quotes is written as "%25" first. Any other
// exception gives what() unchanged. Never throws beyond std::bad_alloc.
std::string option_error_text(std::exception& error);

}  // namespace module
}  // namespace kelvomar

#endif
