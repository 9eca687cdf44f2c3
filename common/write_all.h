#ifndef KEVRA_COMMON_WRITE_ALL_H
#define KEVRA_COMMON_WRITE_ALL_H

// Writing a whole buffer to a descriptor, as few write(2) calls as the kernel
// allows, retried after a signal. Async-signal-safe: it allocates nothing and
// takes no lock, so the crash and deadline handlers use it as well.

#include <cstddef>
#include <string>

namespace kelvomar {

// Writes `size` bytes of `data` to `fd`. 0 when all were written; else the
// errno of the failing write (EIO when the kernel took nothing).
int write_all(int fd, const char* data, std::size_t size) noexcept;

// The same for the whole of `text`.
inline int write_all(int fd, const std::string& text) noexcept
{
    return write_all(fd, text.data(), text.size());
}

}  // namespace kelvomar

#endif
