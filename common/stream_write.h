#ifndef KEVRA_COMMON_STREAM_WRITE_H
#define KEVRA_COMMON_STREAM_WRITE_H

// Writing to the program's standard output and standard error, which the
// agent reads through pipes. A reader that stalls must not hold up the end of
// the run: once a termination is under way every write waits a bounded time
// for the stream to take its text, and a stream that took nothing for that
// long is given up (later writes to it return at once), while the log file
// keeps every record. Until then a write waits as long as the reader needs,
// looking at the bound every few tenths of a second. Everything here is
// async-signal-safe: poll(2), write(2) and atomics only.

#include <cstddef>

namespace kelvomar {
namespace stream_write {

// How long, once waits are bounded, a write may wait for its stream in all.
constexpr int kStalledStreamLimitMs = 3000;

// From now on no write waits for its stream longer than kStalledStreamLimitMs
// (a termination has been requested). Async-signal-safe; later calls change
// nothing.
void bound_waits() noexcept;

// True once bound_waits has been called. Async-signal-safe.
bool waits_bounded() noexcept;

// Writes `size` bytes of `data` to `fd`, in pieces a pipe takes without
// blocking once poll(2) finds it writable. 0 when all were written; ETIMEDOUT
// when the stream was given up (now, or by an earlier write: standard output
// and standard error only); otherwise the errno of the failing write (EPIPE,
// ENOSPC, EIO, ...). Async-signal-safe.
int write(int fd, const char* data, std::size_t size) noexcept;

// Waits until `fd` takes at least one piece without blocking, with the same
// bound as write. 0, ETIMEDOUT (the stream is given up) or poll's errno.
int wait_writable(int fd) noexcept;

// True when standard output (1) or standard error (2) has been given up.
bool given_up(int fd) noexcept;

}  // namespace stream_write
}  // namespace kelvomar

#endif
