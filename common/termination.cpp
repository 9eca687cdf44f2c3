// The hand-over between the worker and the termination of the run.
#include "common/termination.h"

#include <cerrno>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kelvomar {
namespace termination {

namespace {

enum class worker_state {
    none,        // no worker registered
    running,     // runs its own code
    waiting,     // waits for a child process or sleeps
    completing,  // waits for a child process that a termination lets finish
    stopped,     // stands still for good
    closed       // its operation has ended without a termination
};

struct shared_state {
    std::mutex mutex;
    std::condition_variable changed;
    worker_state state = worker_state::none;
    std::thread::id worker;
    bool held = false;       // the termination holds a waiting worker where it is
    int uninterrupted = 0;   // nesting of `uninterrupted` on the worker
};

shared_state& shared()
{
    static shared_state instance;
    return instance;
}

std::atomic<bool> g_begun{false};

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

}  // namespace

void register_worker() noexcept
{
    shared_state& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.worker = std::this_thread::get_id();
    s.state = worker_state::running;
    s.held = false;
    s.uninterrupted = 0;
}

void close_worker() noexcept
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (!is_worker(s)) {
        return;
    }
    if (g_begun) {
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
    if (worker_ && g_begun) {
        stop(s, lock);
    }
    // Started under the lock: a termination that begins now finds the child
    // in place, so it can end it (or let it finish).
    stream_ = ::popen(shell_text.c_str(), "r");
    if (worker_ && stream_ != nullptr) {
        s.state = s.uninterrupted > 0 ? worker_state::completing : worker_state::waiting;
        s.changed.notify_all();
    }
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
    const int status = ::pclose(stream_);
    const int error = errno;
    stream_ = nullptr;
    if (worker_) {
        shared_state& s = shared();
        std::unique_lock<std::mutex> lock(s.mutex);
        leave_wait(s, lock);
    }
    errno = error;
    return status;
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

void sleep_for(std::chrono::milliseconds duration)
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (!is_worker(s)) {
        lock.unlock();
        std::this_thread::sleep_for(duration);
        return;
    }
    if (g_begun) {
        stop(s, lock);
    }
    s.state = worker_state::waiting;
    s.changed.notify_all();
    s.changed.wait_for(lock, duration, [] { return g_begun.load(); });
    if (g_begun) {
        stop(s, lock);
    }
    s.state = worker_state::running;
    s.changed.notify_all();
}

void safe_point()
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    if (is_worker(s) && g_begun) {
        stop(s, lock);
    }
}

bool begin() noexcept
{
    shared_state& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (g_begun || s.state == worker_state::closed) {
        return false;
    }
    g_begun = true;
    s.changed.notify_all();  // a sleeping worker stops at once
    return true;
}

bool begun() noexcept
{
    return g_begun;
}

void wait_for_uninterrupted()
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait(lock, [&] { return s.state != worker_state::completing; });
}

void wait_for_worker(std::chrono::milliseconds settle)
{
    shared_state& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    // First give the worker the time to take in how its last command ended
    // (the ID of an object it made, for example) and to reach a safe point.
    s.changed.wait_for(lock, settle, [&] { return at_rest(s.state); });
    // A worker still waiting for a child is held there; one that runs its own
    // code is waited for.
    s.held = true;
    s.changed.wait(lock, [&] { return at_rest(s.state) || s.state == worker_state::waiting; });
}

}  // namespace termination
}  // namespace kelvomar
