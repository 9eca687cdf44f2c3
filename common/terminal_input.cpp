#include "common/terminal_input.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace hx_utils_common {
namespace {

// Applies `changed` to `fd` for the life of the object, restoring the settings
// that `fd` had before; does nothing when `fd` is no terminal.
class TerminalSettings {
public:
    template <class Change>
    TerminalSettings(int fd, Change change) : fd_(fd)
    {
        if (::tcgetattr(fd_, &saved_) == 0) {
            termios changed = saved_;
            change(changed);
            active_ = ::tcsetattr(fd_, TCSANOW, &changed) == 0;
        }
    }
    TerminalSettings(const TerminalSettings&) = delete;
    TerminalSettings& operator=(const TerminalSettings&) = delete;
    ~TerminalSettings()
    {
        if (active_) {
            ::tcsetattr(fd_, TCSANOW, &saved_);
        }
    }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace

void echo_off(int fd, termios* saved)
{
    if (saved == nullptr) {
        return;
    }
    termios current{};
    if (::tcgetattr(fd, &current) != 0) {
        return;
    }
    *saved = current;
    current.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSANOW, &current);
}

void echo_on(int fd, termios* saved)
{
    if (saved == nullptr) {
        return;
    }
    ::tcsetattr(fd, TCSANOW, saved);
}

int getkey()
{
    const TerminalSettings raw(STDIN_FILENO, [](termios& t) {
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
    });
    return std::getchar();
}

void get_client_secret_input(std::string& secret)
{
    // The settings come back when `quiet` ends, also when reading throws.
    const TerminalSettings quiet(STDIN_FILENO, [](termios& t) { t.c_lflag &= ~static_cast<tcflag_t>(ECHO); });
    std::getline(std::cin, secret);
    // The Enter key was not echoed: end the prompt's line.
    std::cout << std::endl;
}

}  // namespace hx_utils_common
