// The hand-over between the worker and the termination of the run.
#include "common/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "common/descendant_processes.h"
#include "common/hx_utils_common.h"
#include "common/run_processes.h"

extern char** environ;

namespace kelvomar {
namespace termination {

namespace {

enum class worker_state {
    none,        // no worker registered
    running,     // runs its own code
    starting,    // starts a child process
    waiting,     // waits for a child process or sleeps
    completing,  // waits for a command that names what it made
    stopped,     // stands still for good
    closed       // its operation has ended without a termination
};

// The run as a whole: no termination yet, one has begun, or the worker has
// closed (none begins any more). Changed without the lock, so that beginning
// a termination never waits for the worker.
enum phase_value : int { kOpen = 0, kBegun = 1, kClosed = 2 };
std::atomic<int> g_phase{kOpen};

struct shared_state {
    std::mutex mutex;
    std::condition_variable changed;
    worker_state state = worker_state::none;
    std::thread::id worker;
    bool held = false;            // the termination holds a waiting worker where it is
    int uninterrupted = 0;        // nesting of `uninterrupted` on the worker
    pid_t child = 0;              // the worker's running, not yet collected command
    std::uint64_t starts = 0;     // commands the worker has begun to start
    std::uint64_t child_start = 0;  // the number of the start that made `child`
};

shared_state& shared()
{
    static shared_state instance;
    return instance;
}

// The longest a waiting thread sleeps before it looks at the phase again: a
// wake-up lost to a termination that began without the lock costs no more.
constexpr std::chrono::milliseconds kLookAgain{50};

// The clean-up's running command, for the deadline's record: written by the
// clean-up's thread only, read by a handler on that same thread.
constexpr std::size_t kCommandTextSize = 2048;
char g_cleanup_command[kCommandTextSize] = {0};
std::atomic<bool> g_cleanup_running{false};

void note_cleanup_command(const std::string& text) noexcept
{
    g_cleanup_running = false;
    static const std::string merged = " 2>&1";
    std::size_t size = text.size();
    if (size >= merged.size() && text.compare(size - merged.size(), merged.size(), merged) == 0) {
        size -= merged.size();
    }
    size = std::min(size, kCommandTextSize - 1);
    text.copy(g_cleanup_command, size);
    g_cleanup_command[size] = '\0';
    g_cleanup_running = true;
}

bool has_begun()
{
    return g_phase.load() == kBegun;
}

// True when the calling thread is the registered, still active worker.
bool is_worker(const shared_state& s)
{
    return s.state != worker_state::none && s.state != worker_state::closed &&
           s.worker == std::this_thread::get_id();
}

// The worker stands still for good; the termination ends the process.
[[noreturn]] void stop(shared_state& s, std::unique_lock<std::mutex>& lock)
{
    s.state = worker_state::stopped;
    s.changed.notify_all();
    for (;;) {
        s.changed.wait(lock);
    }
}

// After a wait: back to running unless the termination holds the worker.
void leave_wait(shared_state& s, std::unique_lock<std::mutex>& lock)
{
    if (s.held) {
        stop(s, lock);
    }
    s.state = worker_state::running;
    s.changed.notify_all();
}

bool at_rest(worker_state state)
{
    return state == worker_state::none || state == worker_state::stopped || state == worker_state::closed;
}

// Starts "/bin/sh -c text" with its standard output on a new pipe; the child
// begins with the default signal dispositions and an empty signal mask, so
// that neither this process's handlers nor the mask of the calling thread
// reach it. The read end, or -1 when nothing was started.
int spawn_shell(const std::string& text, pid_t& pid)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char shell[] = "/bin/sh";
    char name[] = "sh";
    char option[] = "-c";
    std::string command = text;
    char* argv[] = {name, option, &command[0], nullptr};
    const int error = ::posix_spawn(&pid, shell, &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    if (error != 0) {
        ::close(fds[0]);
        pid = -1;
        errno = error;
        return -1;
    }
    return fds[0];
}

// Waits until child `pid` has ended, without collecting it (its id stays taken).
void wait_for_end(pid_t pid)
{
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
}

}  // namespace

void register_worker() noexcept
{
    shared_state& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.worker = std::this_thread::get_id();
    s.state = worker_state::running;
    s.held = false;
    s.uninterrupted = 0;
    s.child = 0;
}

void close_worker() noexcept
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (!is_worker(s)) {
        return;
    }
    int expected = kOpen;
    if (!g_phase.compare_exchange_strong(expected, kClosed) && expected == kBegun) {
        stop(s, lock);
    }
    s.state = worker_state::closed;
    s.changed.notify_all();
}

command_pipe::command_pipe(const std::string& shell_text)
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    worker_ = is_worker(s);
    if (worker_) {
        if (has_begun()) {
            stop(s, lock);
        }
        s.state = worker_state::starting;
        ++s.starts;
    }
    const std::uint64_t start = s.starts;
    lock.unlock();
    if (!worker_ && has_begun()) {
        note_cleanup_command(shell_text);
    }

    const int fd = spawn_shell(shell_text, pid_);
    const int error = errno;
    if (fd >= 0) {
        stream_ = ::fdopen(fd, "r");
        if (stream_ == nullptr) {
            ::close(fd);
            wait_for_end(pid_);
            while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
        }
    }

    if (!worker_ && stream_ == nullptr) {
        g_cleanup_running = false;
    }
    if (worker_) {
        lock.lock();
        if (stream_ != nullptr) {
            // A termination that began meanwhile finds the child in place, so
            // it can end it (or let it finish).
            s.child = pid_;
            s.child_start = start;
            s.state = s.uninterrupted > 0 ? worker_state::completing : worker_state::waiting;
            s.changed.notify_all();
        } else {
            leave_wait(s, lock);
        }
    }
    errno = error;
}

command_pipe::~command_pipe()
{
    if (stream_ != nullptr) {
        close();
    }
}

int command_pipe::close()
{
    if (stream_ == nullptr) {
        return -1;
    }
    std::fclose(stream_);
    stream_ = nullptr;
    wait_for_end(pid_);
    if (worker_) {
        // Forgotten before it is collected: the id cannot name another process
        // while the termination may still signal it.
        shared_state& s = shared();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.child == pid_) {
            s.child = 0;
        }
    }
    int status = 0;
    pid_t collected = -1;
    while ((collected = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    const int error = errno;
    pid_ = -1;
    if (!worker_) {
        g_cleanup_running = false;
    }
    if (worker_) {
        shared_state& s = shared();
        std::unique_lock<std::mutex> lock(s.mutex);
        leave_wait(s, lock);
    }
    errno = error;
    return collected < 0 ? -1 : status;
}

uninterrupted::uninterrupted() noexcept
{
    shared_state& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (is_worker(s)) {
        ++s.uninterrupted;
    }
}

uninterrupted::~uninterrupted()
{
    shared_state& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (is_worker(s) && s.uninterrupted > 0) {
        --s.uninterrupted;
    }
}

bool ended_by_termination(int status) noexcept
{
    return has_begun() && (status == 128 + SIGTERM || status == 128 + SIGKILL || status == 128 + SIGINT);
}

void sleep_for(std::chrono::milliseconds duration)
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (!is_worker(s)) {
        lock.unlock();
        std::this_thread::sleep_for(duration);
        return;
    }
    if (has_begun()) {
        stop(s, lock);
    }
    s.state = worker_state::waiting;
    s.changed.notify_all();
    const auto until = std::chrono::steady_clock::now() + duration;
    while (!has_begun() && std::chrono::steady_clock::now() < until) {
        s.changed.wait_until(lock, std::min(until, std::chrono::steady_clock::now() + kLookAgain));
    }
    if (has_begun()) {
        stop(s, lock);
    }
    s.state = worker_state::running;
    s.changed.notify_all();
}

void safe_point()
{
    if (!has_begun()) {
        return;
    }
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (is_worker(s)) {
        stop(s, lock);
    }
}

bool begin() noexcept
{
    int expected = kOpen;
    return g_phase.compare_exchange_strong(expected, kBegun);
}

bool begun() noexcept
{
    return has_begun();
}

bool wait_for_uninterrupted(std::chrono::milliseconds grace)
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.notify_all();  // a sleeping worker stops at once
    // A naming command that is being started counts as running already.
    return s.changed.wait_for(lock, grace, [&] {
        return s.state != worker_state::completing && !(s.state == worker_state::starting && s.uninterrupted > 0);
    });
}

void end_child_processes()
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    // Starts up to here are seen by the walk below: their children exist
    // (a start under way may not show yet).
    const std::uint64_t seen = s.starts - (s.state == worker_state::starting ? 1 : 0);
    lock.unlock();
    hx_utils_common::kill_childs(::getpid());
    lock.lock();
    // A start under way ends soon: it does not block, and a pause of the
    // worker ends with the termination's request.
    s.changed.wait(lock, [&] { return s.state != worker_state::starting; });
    if (s.child != 0 && s.child_start > seen) {
        const pid_t late = s.child;
        lock.unlock();
        hx_utils_common::kill_childs(late);
    } else {
        lock.unlock();
    }
    // The walk above ends the leaves only: a parent that starts a new child,
    // or whose child ignored the request until it was killed, may still run.
    // Everything below this process goes now, orphans that a command left
    // included (they are this process's children: run_processes::keep_below).
    hx_utils_common::end_descendants(::getpid(), run_processes::kEndGraceMs);
}

const char* running_cleanup_command() noexcept
{
    return g_cleanup_running.load() ? g_cleanup_command : "";
}

void wait_for_worker(std::chrono::milliseconds settle)
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.notify_all();
    // First give the worker the time to take in how its last command ended
    // (the ID of an object it made, for example) and to reach a safe point.
    s.changed.wait_for(lock, settle, [&] { return at_rest(s.state); });
    // A worker still waiting for a child is held there; one that runs its own
    // code is waited for.
    s.held = true;
    s.changed.wait(lock, [&] {
        return at_rest(s.state) || s.state == worker_state::waiting || s.state == worker_state::completing;
    });
}

}  // namespace termination
}  // namespace kelvomar
