#ifndef KEVRA_COMMON_LOGIN_NAME_H
#define KEVRA_COMMON_LOGIN_NAME_H

#include <string>

namespace hx_utils_common {

// Returns the login name of the session (getlogin); without one, the name of
// the effective user from the user database; the empty text when both fail.
std::string get_loginname();

}  // namespace hx_utils_common

#endif
