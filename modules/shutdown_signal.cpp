// The module's clean-up on a termination signal, by operation. It runs on the
// termination thread while the worker stands still (common/termination.h), and
// removes what a failed run of the same operation removes: only what this run
// created.
#include "common/hx_logger.h"
#include "common/leftovers.h"
#include "modules/esign_commands.h"
#include "modules/hx_module_universal.h"

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

void HxModuleUniversal::handle_shutdown_signal()
{
    shutdown_requested_ = true;
    switch (options_.operation) {
    case op_backup:
    case op_backup_list:
    case op_create_replica:
        // The hook knows what this run has made so far (the signal may land
        // before preparation began) and releases only that.
        release_resource_after_backup();
        if (snapshot_directory_created_) {
            boost::system::error_code ignored;
            boost::filesystem::remove_all(snapshot_directory_path(), ignored);
            snapshot_directory_created_ = false;
            kelvomar::leftovers::forget("directory " + snapshot_directory_path());
        }
        remove_reference_snapshot_directory();
        engine_outputs_.remove_all();
        break;
    case op_restore:
        // As after a failed step: the restore directory goes only when this
        // run created it.
        last_ = true;
        restore_failed_ = true;
        close_restore();
        break;
    case op_verify_in_client_defined_storage:
        if (esign_files_written_) {
            boost::system::error_code ignored;
            boost::filesystem::remove(kelvomar::module::archive_esign_path(options_.task_id), ignored);
            boost::filesystem::remove(kelvomar::module::snapshot_esign_path(options_.task_id), ignored);
            esign_files_written_ = false;
        }
        remove_reference_snapshot_directory();
        break;
    case op_apply_replica:
        // The replica's directory goes when this run made it.
        close_restore();
        break;
    case op_delete_from_client_defined_storage:
        remove_reference_snapshot_directory();
        break;
    default:
        break;
    }
    // The lock of the resource goes as at the end of a run: its file is removed.
    kelvomar::module::resource_file_lock released;
    resource_lock_.swap(released);
}
