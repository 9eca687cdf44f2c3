#ifndef KEVRA_MODULES_HX_MODULE_SIGNAL_HANDLER_H
#define KEVRA_MODULES_HX_MODULE_SIGNAL_HANDLER_H

#include <memory>
#include <thread>

class HxModuleUniversal;

// Process-wide handlers of SIGINT, SIGTERM, SIGSEGV (shut down with 17),
// SIGTSTP / SIGCONT (pause and resume the module and the engine) and SIGPIPE
// (ignored), bound to the one module object of the process. A termination,
// stop or continue signal is only noted by its handler; a thread of the
// handler object acts on it in ordinary code (see common/termination.h).
class HxModuleSignalHandler {
public:
    // How long the clean-up of a termination may take before the module ends
    // without finishing it: the processes below it are ended, an Error record
    // names the command that was ended and what is left behind, then the
    // termination record; exit status 17. In seconds.
    static constexpr unsigned kDefaultShutdownTimeLimit = 60;

    // Creates the handler object for `module`; the caller owns it. Never fails.
    static std::unique_ptr<HxModuleSignalHandler> init(HxModuleUniversal* module);

    // Binds the handlers to `module`, keeps every process the run starts
    // below it (common/run_processes.h), makes the calling thread the worker,
    // starts the termination thread and installs the handlers (sigaction), in
    // the order SIGINT, SIGTERM, SIGSEGV, SIGTSTP, SIGCONT, SIGPIPE.
    explicit HxModuleSignalHandler(HxModuleUniversal* module);
    // Closes the worker (never returns when a termination has begun), ends the
    // termination thread, ends and collects what is still below the module
    // and puts the six signals back to their default dispositions, in the same order.
    ~HxModuleSignalHandler();

    HxModuleSignalHandler(const HxModuleSignalHandler&) = delete;
    HxModuleSignalHandler& operator=(const HxModuleSignalHandler&) = delete;

    // SIGINT and SIGTERM: notes the request for the termination thread, which
    // ends the processes below the module, runs the module's shutdown clean-up
    // and exits with 17. SIGSEGV (on the worker or on the signal thread): the
    // state of the process cannot be trusted, so only the processes below the
    // module are ended (raw system calls) and the termination record is
    // written (with write(2)) before the exit with 17; no clean-up runs. From
    // any of the three on, writes to standard output and standard error wait
    // a bounded time only. Any other number returns at once. Async-signal-safe.
    static void shutdown_handler(int signal);
    // SIGTSTP: notes the stop for the signal thread, which forwards it to the
    // engine, writes the record and holds the worker until SIGCONT or a
    // termination request; other numbers return at once. Async-signal-safe.
    static void pause_handler(int signal);
    // SIGCONT: counts the continue (a held worker goes on) and notes it for
    // the signal thread, which writes the record and forwards it to the
    // engine; other numbers return at once. Async-signal-safe.
    static void continue_handler(int signal);
    // SIGPIPE: does nothing, so that a closed pipe does not end the module.
    static void sigpipe_handler(int signal);

    // True once a termination has begun its clean-up.
    static bool shutting_down();
    // True once a termination signal has arrived (also before its clean-up
    // began). Async-signal-safe.
    static bool termination_requested();
    // Sets the time limit of a termination's clean-up (at least one second).
    static void set_shutdown_time_limit(unsigned seconds);

    // Pause bookkeeping between the stop and continue signals, which may come
    // in quick succession: a continue that arrives after mark_stop ends the
    // pause that follows it, even when it comes before the pause has begun.
    static void mark_stop();
    static void mark_continue();
    // The continue count at the last mark_stop (consumed), or the current count
    // when no stop is pending.
    static long take_stop_mark();
    // True when a continue came after `mark` was taken.
    static bool continued_since(long mark);

    static HxModuleUniversal* module_ptr_;

private:
    // The signal thread: waits for signals noted on `read_fd`, pauses and
    // continues the run on stops and continues, terminates it on the others.
    static void watch_signals(int read_fd);
    // A stop was noted: forwards it to the engine, writes the record and holds
    // the worker, unless a continue or a termination request came since.
    static void pause_run();
    // A continue was noted: writes the record and forwards it to the engine.
    static void continue_run();
    // Ends the run after `signal`: children, clean-up, record, exit 17.
    // Returns only when a termination has begun already or the worker has closed.
    static void terminate_run(int signal);

    // This object's self-pipe, and the write end that signals were noted on
    // before it (put back when it goes).
    int pipe_[2] = {-1, -1};
    int previous_notify_fd_ = -1;
    std::thread watcher_;
};

#endif
