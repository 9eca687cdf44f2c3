#include "common/login_name.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace hx_utils_common {

std::string get_loginname()
{
    try {
        if (const char* login = ::getlogin()) {
            if (*login != '\0') {
                return login;
            }
        }
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_name != nullptr) {
            return found->pw_name;
        }
    } catch (const std::exception&) {
    }
    return std::string();
}

}  // namespace hx_utils_common
