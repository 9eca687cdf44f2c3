#ifndef KEVRA_COMMON_TERMINATION_H
#define KEVRA_COMMON_TERMINATION_H

// The hand-over between the thread that performs the operation (the worker)
// and the termination of the run, which a thread of its own carries out in
// ordinary code. The worker stops for good at its next safe point once a
// termination has begun: when it is about to start a command, at a sleep, at
// a safe_point() of its own loops, or when its operation has ended. The
// termination runs its clean-up only while the worker stands still there (or
// waits for a child process, where it is then held), so the clean-up sees a
// consistent record of what the run made and the worker makes nothing more.
//
// No lock of this hand-over is held across a call that can block (starting a
// process, reading its output, waiting for it, a sleep): a worker paused by a
// stop signal anywhere never holds up the termination for longer than its
// pause, which a termination request ends.
//
// Threads other than the worker (the termination itself, test programs that
// never register one) pass every safe point unhindered.

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace kelvomar {
namespace termination {

// How long a command under `uninterrupted` may go on after a termination began.
constexpr std::chrono::milliseconds kNamingCommandGrace{10000};

// Makes the calling thread the worker. Never fails.
void register_worker() noexcept;

// The worker's operation has ended: from now on no termination begins (a
// termination signal that comes later is not acted upon). When one has begun
// already, the worker stops here and the call never returns. Any thread that
// is not the worker returns at once; later calls do nothing.
void close_worker() noexcept;

// A shell command ("/bin/sh -c" `shell_text`) whose standard output is read
// through a pipe, started with a process id of its own that the termination
// knows. The worker's command is never started once a termination has begun
// (the worker stops in the constructor); while it runs the worker counts as
// waiting, and close() returns only when the termination has not taken over
// in the meantime.
class command_pipe {
public:
    // Starts `shell_text`; stream() is null when it could not be started.
    explicit command_pipe(const std::string& shell_text);
    // Closes the pipe when close() was not called.
    ~command_pipe();
    command_pipe(const command_pipe&) = delete;
    command_pipe& operator=(const command_pipe&) = delete;

    FILE* stream() const { return stream_; }
    // The shell's process id while it runs; -1 when nothing was started.
    pid_t pid() const { return pid_; }
    // Closes the pipe, waits for the command and returns its status word as
    // waitpid gives it (-1 when it cannot be collected or nothing was started).
    int close();

private:
    FILE* stream_ = nullptr;
    pid_t pid_ = -1;
    bool worker_ = false;
};

// While one lives, the worker's commands are commands that name what they made
// (their output carries the new object's ID): a termination gives such a
// command up to kNamingCommandGrace to finish before it ends it. Nestable.
class uninterrupted {
public:
    uninterrupted() noexcept;
    ~uninterrupted();
    uninterrupted(const uninterrupted&) = delete;
    uninterrupted& operator=(const uninterrupted&) = delete;
};

// True when a command that ended with `status` (as execute_command reports it:
// 128 + the signal for an end by a signal) may have been ended by the
// termination, so that what its output would have named is not known.
bool ended_by_termination(int status) noexcept;

// Sleeps for `duration`. For the worker a safe point: it stops here when a
// termination has begun or begins during the sleep.
void sleep_for(std::chrono::milliseconds duration);

// For the worker: stops here for good when a termination has begun. Cheap
// while none has (one atomic load), so that loops over data can call it often.
void safe_point();

// ---- The termination's side ----------------------------------------------

// Begins the termination: true for the first call while the worker has not
// closed; false when one has begun already or the worker has closed. Never
// waits for a lock. Async-signal-safe.
bool begin() noexcept;

// True once a termination has begun. Async-signal-safe.
bool begun() noexcept;

// Waits while the worker runs a command under `uninterrupted`, for at most
// `grace`; true when none runs any more.
bool wait_for_uninterrupted(std::chrono::milliseconds grace = kNamingCommandGrace);

// Ends the processes below this process: their leaves first
// (hx_utils_common::kill_childs), also the worker's command when the worker
// started it while they were being ended, then whatever is still below
// (SIGTERM, SIGKILL after a grace), so that nothing is left there.
void end_child_processes();

// The command (its shell text, without the " 2>&1" that merges its standard
// error) that a thread other than the worker runs now once a termination has
// begun (a command of the clean-up); empty when none runs. For the signal
// handler of the clean-up's deadline, on the clean-up's own thread.
// Async-signal-safe; never null.
const char* running_cleanup_command() noexcept;

// Waits until the worker stands still: stopped at a safe point, closed, or
// none registered. After `settle` a worker that is still waiting for a child
// process is held where it is, and the wait ends too; a worker that runs its
// own code is waited for until it reaches a safe point.
void wait_for_worker(std::chrono::milliseconds settle);

}  // namespace termination
}  // namespace kelvomar

#endif
