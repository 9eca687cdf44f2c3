// Process-wide signal handlers bound to the one module object of the process.
//
// Where a signal can land: anywhere in the module's work, also in the middle
// of a log record (holding the output lock or a log destination's mutex) or of
// the C library's memory functions. So the handlers of the termination, stop
// and continue signals only note the signal (an atomic count, a byte in a
// pipe); a thread of the handler object reads the pipe and acts in ordinary
// code. On a stop it forwards the signal to the engine, writes the record and
// holds the worker where it is (a signal of its own, whose handler only
// sleeps until a continue or a termination request); on a continue it writes
// the record and forwards the signal. On a termination it ends the processes
// below the module, waits until the worker stands still at a safe point
// (common/termination.h), runs the module's clean-up, writes the record and
// exits with 17. A deadline ends a termination that still gets stuck (a
// platform command that never returns) on the clean-up's own thread, so that
// the clean-up starts nothing more: the processes below the module are ended
// with raw system calls only (common/descendant_processes.h), the records are
// written with write(2) (signal_log) and the run exits with 17. A segmentation
// fault leaves nothing to be trusted and ends the same way, without a clean-up;
// the platform objects and work files of the run stay.
#include "modules/hx_module_signal_handler.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/descendant_processes.h"
#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/leftovers.h"
#include "common/output_lines.h"
#include "common/run_processes.h"
#include "common/stream_write.h"
#include "common/termination.h"
#include "modules/hx_module_universal.h"
#include "modules/signal_log.h"

HxModuleUniversal* HxModuleSignalHandler::module_ptr_ = nullptr;

namespace {

// The signals handled while a handler object exists, in installation order.
constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGSEGV, SIGTSTP, SIGCONT, SIGPIPE};

constexpr int kTerminatedStatus = 17;

// How long the termination lets the worker take in how its last command ended
// before it holds it where it waits.
constexpr std::chrono::milliseconds kWorkerSettleTime{3000};

// How long the processes below the module get to end on SIGTERM after a
// segmentation fault, or when the clean-up's deadline has passed, before they
// are killed, in milliseconds.
constexpr int kCrashChildGraceMs = 1000;
constexpr int kDeadlineChildGraceMs = 2000;

// The worker (the thread that made the handler object) and the signal that
// holds it while the module is paused (the first real-time signal that the C
// library leaves to programs).
pthread_t g_worker_thread;
std::atomic<bool> g_worker_known{false};
std::atomic<int> g_hold_signal{0};
// The continue count at the stop that the current hold stands for.
std::atomic<long> g_hold_mark{0};

// The thread of the termination's clean-up, once one runs (0 before).
std::atomic<long> g_cleanup_thread{0};

// Set once the segmentation fault handler runs: a fault inside it ends the
// process at once.
volatile sig_atomic_t g_crash_handling = 0;

// The write end of the self-pipe between the termination handler and the
// termination thread of the newest handler object; a zero byte tells that
// thread to end.
std::atomic<int> g_notify_fd{-1};
std::atomic<unsigned> g_shutdown_time_limit{HxModuleSignalHandler::kDefaultShutdownTimeLimit};

// Continues seen so far, and the count at the last stop (-1: none pending).
std::atomic<long> g_continues{0};
std::atomic<long> g_stop_mark{-1};

// Writes a fixed text to standard error with the one call that is safe anywhere.
void raw_error_line(const char* text)
{
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

// A termination signal has arrived (set in the handler, before the
// termination thread learns of it): a pause ends on it.
std::atomic<bool> g_termination_requested{false};

long current_thread() noexcept
{
    return ::syscall(SYS_gettid);
}

// The end of the run from a signal handler, with async-signal-safe calls only:
// every process below the module is ended (SIGTERM, then SIGKILL after
// `grace_ms`), then `what_is_left` (when given) writes its record, then the
// termination record; exit status 17. Nothing the run started outlives it.
[[noreturn]] void end_run_from_handler(int grace_ms, void (*what_is_left)())
{
    kelvomar::run_processes::end_all_from_handler(grace_ms);
    if (what_is_left != nullptr) {
        what_is_left();
    }
    kelvomar::module::signal_log::info("Module was terminated. PID: ", ::getpid(), "");
    ::_exit(kTerminatedStatus);
}

// The record of a clean-up that did not end in time: the command it was
// running (now ended) and what the run made and has not removed yet, for
// removal by hand.
void deadline_record()
{
    const char* command = kelvomar::termination::running_cleanup_command();
    const bool ran = *command != '\0';
    const char* left = kelvomar::leftovers::signal_text();
    const bool listed = *left != '\0';
    const char* const pieces[] = {"Module termination clean-up did not end in time",
                                  ran ? ": the command '" : nullptr,
                                  ran ? command : nullptr,
                                  ran ? "' was ended" : nullptr,
                                  "; the module ends without it.",
                                  listed ? " Left behind: " : nullptr,
                                  listed ? left : nullptr};
    kelvomar::module::signal_log::error_pieces(pieces, sizeof pieces / sizeof pieces[0]);
}

// The watchdog of a termination: its clean-up took too long. It acts on the
// clean-up's own thread (the signal is passed on to it), which then starts no
// further command while the processes below the module are ended.
void shutdown_timeout_handler(int)
{
    const long cleanup = g_cleanup_thread.load();
    if (cleanup != 0 && cleanup != current_thread()) {
        ::syscall(SYS_tgkill, static_cast<long>(::getpid()), cleanup, static_cast<long>(SIGALRM));
        return;
    }
    end_run_from_handler(kDeadlineChildGraceMs, &deadline_record);
}

// The hold of a paused worker: sleeps until a continue came after the stop it
// stands for, or a termination was requested (their handlers run on this
// thread meanwhile and cut the sleep short).
void hold_handler(int)
{
    const int saved = errno;
    const long mark = g_hold_mark.load();
    while (!HxModuleSignalHandler::continued_since(mark) && !HxModuleSignalHandler::termination_requested()) {
        struct timespec pause {0, 100 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    errno = saved;
}

void install(int signal, void (*handler)(int), int flags, int also_blocked = 0)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    if (also_blocked != 0) {
        sigaddset(&action.sa_mask, also_blocked);
    }
    // No handler is ever held inside: the hold of a paused worker comes after
    // it (a hold inside the continue's handler, with SIGCONT blocked, would
    // never end).
    if (g_hold_signal.load() != 0) {
        sigaddset(&action.sa_mask, g_hold_signal.load());
    }
    action.sa_flags = flags;
    ::sigaction(signal, &action, nullptr);
}

// Blocks what the termination thread does not take while it waits: every
// asynchronous signal. A segmentation fault of its own is handled on it (the
// run ends with 17, its processes ended); one sent with kill(2) mostly reaches
// the worker, and where it lands on this thread the worker is stopped at its
// next safe point while the processes below are ended.
// (The thread only reads its pipe while it waits; its termination unblocks all.)
void block_asynchronous_signals(sigset_t* previous)
{
    sigset_t set;
    sigfillset(&set);
    for (const int synchronous : {SIGBUS, SIGFPE, SIGILL, SIGSEGV}) {
        sigdelset(&set, synchronous);
    }
    ::pthread_sigmask(SIG_BLOCK, &set, previous);
}

void note_to(int fd, unsigned char byte)
{
    const int saved = errno;
    if (fd >= 0) {
        const ssize_t ignored = ::write(fd, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

void restore_default(int signal)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

bool HxModuleSignalHandler::shutting_down()
{
    return kelvomar::termination::begun();
}

bool HxModuleSignalHandler::termination_requested()
{
    return g_termination_requested.load() || kelvomar::termination::begun();
}

void HxModuleSignalHandler::mark_stop()
{
    g_stop_mark = g_continues.load();
}

void HxModuleSignalHandler::mark_continue()
{
    ++g_continues;
}

long HxModuleSignalHandler::take_stop_mark()
{
    const long mark = g_stop_mark.exchange(-1);
    return mark >= 0 ? mark : g_continues.load();
}

bool HxModuleSignalHandler::continued_since(long mark)
{
    return g_continues.load() != mark;
}

void HxModuleSignalHandler::set_shutdown_time_limit(unsigned seconds)
{
    g_shutdown_time_limit = seconds == 0 ? 1 : seconds;
}

std::unique_ptr<HxModuleSignalHandler> HxModuleSignalHandler::init(HxModuleUniversal* module)
{
    return std::make_unique<HxModuleSignalHandler>(module);
}

HxModuleSignalHandler::HxModuleSignalHandler(HxModuleUniversal* module)
{
    module_ptr_ = module;
    kelvomar::run_processes::keep_below();  // before the run starts any process
    kelvomar::module::signal_log::prepare();
    kelvomar::termination::register_worker();
    g_worker_thread = ::pthread_self();
    g_worker_known = true;
    g_hold_signal = SIGRTMIN;
    if (::pipe2(pipe_, O_CLOEXEC) == 0) {
        // A handler never waits on a full pipe.
        ::fcntl(pipe_[1], F_SETFL, ::fcntl(pipe_[1], F_GETFL) | O_NONBLOCK);
        // The thread starts with the asynchronous signals blocked, so that
        // they all reach the worker, whose stop handler must hold it.
        sigset_t previous;
        block_asynchronous_signals(&previous);
        try {
            watcher_ = std::thread(&HxModuleSignalHandler::watch_signals, pipe_[0]);
        } catch (...) {
            // Without the thread a termination signal is noted and not acted upon.
        }
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        previous_notify_fd_ = g_notify_fd.exchange(pipe_[1]);
    }
    // Interrupted system calls (the reads of the engine's output among them)
    // go on after a pause or a caught SIGPIPE.
    // A stop that comes with a termination (the kernel hands over the lower
    // number first) must not pause the module inside the termination's
    // handler before the request is noted: SIGTSTP waits until it is.
    install(SIGINT, &HxModuleSignalHandler::shutdown_handler, SA_RESTART, SIGTSTP);
    install(SIGTERM, &HxModuleSignalHandler::shutdown_handler, SA_RESTART, SIGTSTP);
    install(SIGSEGV, &HxModuleSignalHandler::shutdown_handler, SA_RESTART | SA_NODEFER);
    // A stop and a continue sent in quick succession must not overtake each
    // other inside the handlers: each handler starts with the other signal
    // blocked (see pause_handler).
    install(SIGTSTP, &HxModuleSignalHandler::pause_handler, SA_RESTART, SIGCONT);
    install(SIGCONT, &HxModuleSignalHandler::continue_handler, SA_RESTART, SIGTSTP);
    install(SIGPIPE, &HxModuleSignalHandler::sigpipe_handler, SA_RESTART);
    install(g_hold_signal, &hold_handler, SA_RESTART);
}

HxModuleSignalHandler::~HxModuleSignalHandler()
{
    // A termination that has begun goes on without the worker; otherwise none
    // begins from here on.
    kelvomar::termination::close_worker();
    int mine = pipe_[1];
    g_notify_fd.compare_exchange_strong(mine, previous_notify_fd_);
    if (watcher_.joinable()) {
        note_to(pipe_[1], 0);
        watcher_.join();
    }
    kelvomar::run_processes::end_left_over();
    for (const int signal : kHandledSignals) {
        restore_default(signal);
    }
    // No hold is asked for any more: the thread that asks has ended.
    restore_default(g_hold_signal);
    g_worker_known = false;
    for (int& fd : pipe_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void HxModuleSignalHandler::shutdown_handler(int signal)
{
    if (signal == SIGINT || signal == SIGTERM || signal == SIGSEGV) {
        // From now on no write waits for a reader of standard output or
        // standard error without bound, nor for the lock of a stuck writer.
        kelvomar::stream_write::bound_waits();
    }
    if (signal == SIGINT || signal == SIGTERM) {
        g_termination_requested = true;
        note_to(g_notify_fd, static_cast<unsigned char>(signal));
        return;
    }
    if (signal != SIGSEGV) {
        return;
    }
    if (g_crash_handling != 0) {
        ::_exit(kTerminatedStatus);
    }
    g_crash_handling = 1;
    if (kelvomar::termination::begun()) {
        raw_error_line("Module clean-up failed with a segmentation fault.\n");
    } else {
        // The fault may be the signal thread's while the worker runs: the
        // worker starts nothing more and stops at its next safe point.
        kelvomar::termination::begin();
    }
    // The engine or a running command must not outlive the module.
    end_run_from_handler(kCrashChildGraceMs, nullptr);
}

void HxModuleSignalHandler::watch_signals(int read_fd)
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = ::read(read_fd, &byte, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || byte == 0) {
            return;
        }
        if (byte == SIGTSTP) {
            pause_run();
        } else if (byte == SIGCONT) {
            continue_run();
        } else {
            terminate_run(byte);
        }
    }
}

void HxModuleSignalHandler::pause_run()
{
    if (module_ptr_ == nullptr || termination_requested()) {
        return;
    }
    // The mark was taken by the stop's handler: a continue that came since
    // (it may be the next byte in the pipe) ends this pause before it begins.
    const long mark = take_stop_mark();
    module_ptr_->send_signal_to_hxfd(SIGTSTP);
    // A termination requested meanwhile goes first: no pause record before it.
    if (termination_requested()) {
        return;
    }
    module_ptr_->set_to_pause();
    if (!continued_since(mark) && !termination_requested() && g_worker_known.load()) {
        g_hold_mark = mark;
        ::pthread_kill(g_worker_thread, g_hold_signal.load());
    }
}

void HxModuleSignalHandler::continue_run()
{
    if (module_ptr_ == nullptr) {
        return;
    }
    // The hold of the worker has ended already: the continue's handler counted it.
    module_ptr_->continue_working();
    module_ptr_->send_signal_to_hxfd(SIGCONT);
}

void HxModuleSignalHandler::terminate_run(int /*signal*/)
{
    namespace termination = kelvomar::termination;
    // Neither of the first two steps can wait: the deadline stands before
    // anything that could (a lock, a command, a log record).
    if (!termination::begin()) {
        return;  // one is under way already, or the operation has ended
    }
    g_cleanup_thread = current_thread();
    install(SIGALRM, &shutdown_timeout_handler, 0);
    ::alarm(g_shutdown_time_limit);
    // The clean-up starts processes of its own: they get a plain signal mask.
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_UNBLOCK, &all, nullptr);

    // A platform command that names what it made is given a bounded time to
    // finish (its output names the object); then every process below the
    // module is ended, that command too.
    termination::wait_for_uninterrupted(termination::kNamingCommandGrace);
    termination::end_child_processes();
    termination::wait_for_worker(kWorkerSettleTime);
    if (module_ptr_ != nullptr) {
        module_ptr_->handle_shutdown_signal();
    }
    // Every command of the clean-up has been waited for; a process that is
    // still below the module (one the ended commands left) does not outlive it.
    kelvomar::run_processes::end_all_from_handler(kDeadlineChildGraceMs);
    HxLogStream(HxLogLvl::Info) << "Module was terminated. PID: " << ::getpid() << std::endl;
    // The running operation is not unwound; what the agent reads is flushed,
    // as far as its reader takes it.
    kelvomar::output::flush_standard_streams();
    ::_exit(kTerminatedStatus);
}

void HxModuleSignalHandler::pause_handler(int signal)
{
    if (signal != SIGTSTP || module_ptr_ == nullptr || termination_requested()) {
        return;
    }
    // SIGCONT is blocked on entry: a continue sent right after this stop is
    // counted after the mark, so it ends the pause that the stop begins.
    mark_stop();
    note_to(g_notify_fd, static_cast<unsigned char>(SIGTSTP));
}

void HxModuleSignalHandler::continue_handler(int signal)
{
    if (signal != SIGCONT || module_ptr_ == nullptr) {
        return;
    }
    // Counted here, so that a held worker goes on at once, whatever the
    // thread that writes the record is waiting for.
    mark_continue();
    note_to(g_notify_fd, static_cast<unsigned char>(SIGCONT));
}

void HxModuleSignalHandler::sigpipe_handler(int /*signal*/)
{
}
