// Pausing and resuming the module and the archive engine on stop and continue
// signals. These run on the thread that watches for signals, in ordinary code:
// their records go through the normal record path, whole and in order with
// every other record and protocol line. The worker itself is held by the
// signal handler object (hx_module_signal_handler.cpp).
#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "modules/hx_module_signal_handler.h"
#include "modules/hx_module_universal.h"

#include <unistd.h>

void HxModuleUniversal::send_signal_to_hxfd(int signal)
{
    // Read once: the worker resets it when the engine has ended.
    const pid_t engine = hxfd_pid_.load();
    if (engine != 0) {
        hx_utils_common::send_signal(engine, signal);
    }
}

void HxModuleUniversal::set_to_pause()
{
    HxLogStream(HxLogLvl::Info) << "Module pid: " << ::getpid() << " put on pause" << std::endl;
    paused_ = true;
}

bool HxModuleUniversal::is_paused()
{
    return paused_;
}

void HxModuleUniversal::continue_working()
{
    HxLogStream(HxLogLvl::Info) << "Module pid: " << ::getpid() << " continue working" << std::endl;
    paused_ = false;
}
