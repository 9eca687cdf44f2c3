// Process-wide signal handlers bound to the one module object of the process.
//
// Where a signal can land: anywhere in the module's single thread, also in the
// middle of a log record (holding a log destination's mutex) or of the C
// library's memory functions. So the handlers write their own records with
// async-signal-safe calls only (signal_log), the pause waits with nanosleep,
// a termination replaces the shared destinations before its clean-up hooks
// log, and a watchdog ends a termination that still gets stuck (a lock of the
// C library held by the interrupted code, a platform command that never
// returns) with the same exit status after a bounded time.
#include "modules/hx_module_signal_handler.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "modules/hx_module_universal.h"
#include "modules/signal_log.h"

HxModuleUniversal* HxModuleSignalHandler::module_ptr_ = nullptr;

namespace {

// The signals handled while a handler object exists, in installation order.
constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGSEGV, SIGTSTP, SIGCONT, SIGPIPE};

constexpr int kTerminatedStatus = 17;

std::atomic<bool> g_shutting_down{false};
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

// The watchdog of a termination: its clean-up took too long.
void shutdown_timeout_handler(int)
{
    raw_error_line("Module termination clean-up did not end in time; the module ends without it.\n");
    ::_exit(kTerminatedStatus);
}

void install(int signal, void (*handler)(int), int flags, int also_blocked = 0)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    if (also_blocked != 0) {
        sigaddset(&action.sa_mask, also_blocked);
    }
    action.sa_flags = flags;
    ::sigaction(signal, &action, nullptr);
}

void unblock(int signal)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
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
    return g_shutting_down;
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
    kelvomar::module::signal_log::prepare();
    // Interrupted system calls (the reads of the engine's output among them)
    // go on after a pause or a caught SIGPIPE. The termination handler may be
    // entered again (a fault in the clean-up); it guards itself.
    install(SIGINT, &HxModuleSignalHandler::shutdown_handler, SA_RESTART | SA_NODEFER);
    install(SIGTERM, &HxModuleSignalHandler::shutdown_handler, SA_RESTART | SA_NODEFER);
    install(SIGSEGV, &HxModuleSignalHandler::shutdown_handler, SA_RESTART | SA_NODEFER);
    // A stop and a continue sent in quick succession must not overtake each
    // other inside the handlers: each handler starts with the other signal
    // blocked (see pause_handler).
    install(SIGTSTP, &HxModuleSignalHandler::pause_handler, SA_RESTART, SIGCONT);
    install(SIGCONT, &HxModuleSignalHandler::continue_handler, SA_RESTART, SIGTSTP);
    install(SIGPIPE, &HxModuleSignalHandler::sigpipe_handler, SA_RESTART);
}

HxModuleSignalHandler::~HxModuleSignalHandler()
{
    for (const int signal : kHandledSignals) {
        restore_default(signal);
    }
}

void HxModuleSignalHandler::shutdown_handler(int signal)
{
    if (signal != SIGINT && signal != SIGTERM && signal != SIGSEGV) {
        return;
    }
    if (g_shutting_down.exchange(true)) {
        // A termination is already cleaning up. A second request waits for it;
        // a fault inside the clean-up cannot go on, so the module ends now.
        if (signal == SIGSEGV) {
            raw_error_line("Module clean-up failed with a segmentation fault.\n");
            ::_exit(kTerminatedStatus);
        }
        return;
    }
    // The clean-up starts processes of its own: they get a plain signal mask,
    // and a stop signal that reaches the module now does not pause it.
    sigset_t handled;
    sigemptyset(&handled);
    for (const int each : kHandledSignals) {
        sigaddset(&handled, each);
    }
    ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
    install(SIGALRM, &shutdown_timeout_handler, 0);
    ::alarm(g_shutdown_time_limit);

    kelvomar::module::signal_log::detach_shared_destinations();
    hx_utils_common::kill_childs(::getpid());
    if (module_ptr_ != nullptr) {
        module_ptr_->handle_shutdown_signal();
    }
    kelvomar::module::signal_log::info("Module was terminated. PID: ", ::getpid(), "");
    // The running operation is not unwound; what the agent reads is flushed.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(kTerminatedStatus);
}

void HxModuleSignalHandler::pause_handler(int signal)
{
    if (signal != SIGTSTP || module_ptr_ == nullptr || g_shutting_down) {
        return;
    }
    // SIGCONT is blocked on entry, so a continue sent right after this stop
    // cannot be counted before the mark is taken (which would leave the module
    // paused for good) nor reach the engine before the stop does (which would
    // leave the engine stopped). Once both are done, a pending continue is let
    // in and ends this pause, even before the pause has begun.
    mark_stop();
    module_ptr_->send_signal_to_hxfd(SIGTSTP);
    unblock(SIGCONT);
    module_ptr_->set_to_pause();
}

void HxModuleSignalHandler::continue_handler(int signal)
{
    if (signal != SIGCONT || module_ptr_ == nullptr) {
        return;
    }
    module_ptr_->continue_working();
    module_ptr_->send_signal_to_hxfd(SIGCONT);
}

void HxModuleSignalHandler::sigpipe_handler(int /*signal*/)
{
}
