// The run's processes kept below the module, ended and collected at its end.
#include "common/run_processes.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/descendant_processes.h"
#include "common/hx_logger.h"

namespace kelvomar {
namespace run_processes {

bool keep_below() noexcept
{
    return ::prctl(PR_SET_CHILD_SUBREAPER, 1UL, 0UL, 0UL, 0UL) == 0;
}

int collect_ended_children() noexcept
{
    const int saved = errno;
    int collected = 0;
    for (;;) {
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid > 0) {
            ++collected;
        } else if (pid < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    errno = saved;
    return collected;
}

void end_all_from_handler(int grace_ms) noexcept
{
    hx_utils_common::end_descendants(::getpid(), grace_ms);
    collect_ended_children();
}

void end_left_over(int grace_ms) noexcept
{
    hx_utils_common::descendant_process found[hx_utils_common::kMaxDescendants];
    const std::size_t count = hx_utils_common::find_descendants(::getpid(), found, hx_utils_common::kMaxDescendants);
    if (count > 0) {
        try {
            std::string pids;
            for (std::size_t i = 0; i < count; ++i) {
                pids += (i == 0 ? "PID " : ", PID ") + std::to_string(found[i].pid);
            }
            HxLogStream(HxLogLvl::Warning) << "Processes that the run's commands left running were ended: " << pids
                                           << std::endl;
        } catch (...) {
            // Without its record the ending still happens.
        }
        hx_utils_common::end_descendants(::getpid(), grace_ms);
    }
    collect_ended_children();
    ::prctl(PR_SET_CHILD_SUBREAPER, 0UL, 0UL, 0UL, 0UL);
}

}  // namespace run_processes
}  // namespace kelvomar
