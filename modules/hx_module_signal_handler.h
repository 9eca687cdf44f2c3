#ifndef KEVRA_MODULES_HX_MODULE_SIGNAL_HANDLER_H
#define KEVRA_MODULES_HX_MODULE_SIGNAL_HANDLER_H

#include <memory>

class HxModuleUniversal;

// Process-wide handlers of SIGINT, SIGTERM, SIGSEGV (shut down with 17),
// SIGTSTP / SIGCONT (pause and resume the module and the engine) and SIGPIPE
// (ignored), bound to the one module object of the process.
class HxModuleSignalHandler {
public:
    // Creates the handler object for `module`; the caller owns it.
    static std::unique_ptr<HxModuleSignalHandler> init(HxModuleUniversal* module);

    // Binds the handlers to `module` and installs them.
    explicit HxModuleSignalHandler(HxModuleUniversal* module);
    // Puts the six signals back to their default dispositions.
    ~HxModuleSignalHandler();

    HxModuleSignalHandler(const HxModuleSignalHandler&) = delete;
    HxModuleSignalHandler& operator=(const HxModuleSignalHandler&) = delete;

    // Termination: ends the processes below the module, runs the module's
    // shutdown clean-up and exits with 17.
    static void shutdown_handler(int signal);
    // SIGTSTP: forwards it to the engine and waits until SIGCONT.
    static void pause_handler(int signal);
    // SIGCONT: resumes the module and forwards it to the engine.
    static void continue_handler(int signal);
    // SIGPIPE: does nothing.
    static void sigpipe_handler(int signal);

    static HxModuleUniversal* module_ptr_;
};

#endif
