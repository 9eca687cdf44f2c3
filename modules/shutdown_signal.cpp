// The module's clean-up on a termination signal, by operation. It runs inside
// the termination handler and touches only what this run created.
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "common/hx_logger.h"
#include "modules/hx_module_universal.h"
#include "modules/shutdown_cleanup.h"

void HxModuleUniversal::handle_shutdown_signal()
{
    namespace cleanup = kelvomar::module::shutdown_cleanup;
    shutdown_requested_ = true;
    switch (options_.operation) {
    case op_backup:
    case op_backup_list:
    case op_create_replica:
        // The hook knows what this run has made so far (the signal may land
        // before preparation began) and releases only that.
        release_resource_after_backup();
        break;
    case op_restore:
        if (remove_operation_directory_) {
            const std::string& directory = options_.tmp_operation_directory;
            // Until the restore directory is defined the operation directory is
            // the agent's own: only a directory this run created is removed.
            if (cleanup::created_by_this_run(directory)) {
                HxLogStream(HxLogLvl::Info) << "Remove temporary operation directory: " << directory << std::endl;
                boost::system::error_code ec;
                boost::filesystem::remove_all(directory, ec);
                if (ec) {
                    HxLogStream(HxLogLvl::Error) << "virtual void HxModuleUniversal::handle_shutdown_signal()"
                                                 << ": unable to remove " << directory << ": " << ec.message()
                                                 << std::endl;
                }
            } else {
                HxLogStream(HxLogLvl::Info) << "Operation directory " << directory
                                            << " was not created by this run: left in place" << std::endl;
            }
        }
        break;
    case op_apply_replica:
        remove_reference_snapshot_directory();
        break;
    default:
        break;
    }
}
