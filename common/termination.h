#ifndef KEVRA_COMMON_TERMINATION_H
#define KEVRA_COMMON_TERMINATION_H

// The hand-over between the thread that performs the operation (the worker)
// and the termination of the run, which a thread of its own carries out in
// ordinary code. The worker stops for good at its next safe point once a
// termination has begun: when it is about to start a command, at a sleep, or
// when its operation has ended. The termination runs its clean-up only while
// the worker stands still there (or waits for a child process, where it is
// then held), so the clean-up sees a consistent record of what the run made
// and the worker makes nothing more.
//
// Threads other than the worker (the termination itself, test programs that
// never register one) pass every safe point unhindered.

#include <chrono>
#include <cstdio>
#include <string>

namespace kelvomar {
namespace termination {

// Makes the calling thread the worker. Never fails.
void register_worker() noexcept;

// The worker's operation has ended: from now on no termination begins (a
// termination signal that comes later is not acted upon). When one has begun
// already, the worker stops here and the call never returns. Any thread that
// is not the worker returns at once; later calls do nothing.
void close_worker() noexcept;

// A shell command whose standard output is read through a pipe, as popen
// starts it. The worker's command is never started once a termination has
// begun (the worker stops in the constructor); while it runs the worker counts
// as waiting, and close() returns only when the termination has not taken
// over in the meantime.
class command_pipe {
public:
    // Starts `shell_text` with /bin/sh; stream() is null when it could not be started.
    explicit command_pipe(const std::string& shell_text);
    // Closes the pipe when close() was not called.
    ~command_pipe();
    command_pipe(const command_pipe&) = delete;
    command_pipe& operator=(const command_pipe&) = delete;

    FILE* stream() const { return stream_; }
    // Waits for the command and returns the status word of pclose (-1 when it
    // cannot be collected or nothing was started).
    int close();

private:
    FILE* stream_ = nullptr;
    bool worker_ = false;
};

// While one lives, the worker's commands are let finish by a termination
// instead of being ended: they make platform objects that only their output
// names. Nestable; use only around short commands.
class uninterrupted {
public:
    uninterrupted() noexcept;
    ~uninterrupted();
    uninterrupted(const uninterrupted&) = delete;
    uninterrupted& operator=(const uninterrupted&) = delete;
};

// Sleeps for `duration`. For the worker a safe point: it stops here when a
// termination has begun or begins during the sleep.
void sleep_for(std::chrono::milliseconds duration);

// For the worker: stops here for good when a termination has begun.
void safe_point();

// ---- The termination's side ----------------------------------------------

// Begins the termination: true for the first call while the worker has not
// closed; false when one has begun already or the worker has closed.
bool begin() noexcept;

// True once a termination has begun. Async-signal-safe.
bool begun() noexcept;

// Waits while the worker runs a command under `uninterrupted`.
void wait_for_uninterrupted();

// Waits until the worker stands still: stopped at a safe point, closed, or
// none registered. After `settle` a worker that is still waiting for a child
// process is held where it is, and the wait ends too; a worker that runs its
// own code is waited for until it reaches a safe point.
void wait_for_worker(std::chrono::milliseconds settle);

}  // namespace termination
}  // namespace kelvomar

#endif
