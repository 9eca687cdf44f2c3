// Pausing and resuming the module and the archive engine on stop and continue
// signals. These run inside signal handlers: their records go through
// signal_log, and the wait is a plain sleep that a continue interrupts.
#include <time.h>
#include <unistd.h>

#include "common/hx_utils_common.h"
#include "modules/hx_module_signal_handler.h"
#include "modules/hx_module_universal.h"
#include "modules/signal_log.h"

void HxModuleUniversal::send_signal_to_hxfd(int signal)
{
    if (hxfd_pid_ != 0) {
        hx_utils_common::send_signal(hxfd_pid_, signal);
    }
}

void HxModuleUniversal::set_to_pause()
{
    const long mark = HxModuleSignalHandler::take_stop_mark();
    kelvomar::module::signal_log::info("Module pid: ", ::getpid(), " put on pause");
    paused_ = true;
    while (is_paused() && !HxModuleSignalHandler::continued_since(mark) &&
           !HxModuleSignalHandler::termination_requested()) {
        // One second at a time; a continue or termination signal cuts the
        // sleep short (its handler runs on this thread, the only one that
        // takes asynchronous signals) and ends the pause.
        struct timespec second {1, 0};
        ::nanosleep(&second, nullptr);
    }
    paused_ = false;
}

bool HxModuleUniversal::is_paused()
{
    return paused_;
}

void HxModuleUniversal::continue_working()
{
    kelvomar::module::signal_log::info("Module pid: ", ::getpid(), " continue working");
    HxModuleSignalHandler::mark_continue();
    paused_ = false;
}
