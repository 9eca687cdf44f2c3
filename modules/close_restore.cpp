// The clean-up at the end of a restore: the directory that the snapshot file
// was unpacked into and, after the last archive of a chain, the restore
// directory with everything the engine unpacked into it (after a failure only
// when this run created it); a replica's directory at the end of its run.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/leftovers.h"

#include <boost/filesystem.hpp>

#include <exception>
#include <string>

void HxModuleUniversal::close_restore()
{
    static const char kSignature[] = "virtual void HxModuleUniversal::close_restore()";
    remove_reference_snapshot_directory();
    // A replica's directory is made new by its run and holds one archive: it
    // goes at the end of every run that made it, whatever the outcome.
    const bool replica = options_.operation == op_apply_replica && restore_directory_created_;
    if (!replica && (options_.operation != op_restore || !last_ || !remove_operation_directory_))
        return;
    try {
        const std::string& directory = options_.tmp_operation_directory;
        // After a failure the restore directory may hold what earlier archives
        // of a chain put there (the archive to patch): only one this run
        // created is removed.
        if (restore_failed_ && !restore_directory_created_) {
            HxLogStream(HxLogLvl::Info) << "Restore directory " << directory
                                        << " was not created by this run: left in place" << std::endl;
            return;
        }
        HxLogStream(HxLogLvl::Info) << "Remove temporary operation directory: " << directory << std::endl;
        boost::filesystem::remove_all(directory);
        if (replica) {
            restore_directory_created_ = false;
        }
        kelvomar::leftovers::forget("restore-directory");
    } catch (const boost::filesystem::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": boost::filesystem: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": exception: " << e.what() << std::endl;
    }
}

void HxModuleUniversal::remove_reference_snapshot_directory()
{
    static const char kSignature[] = "void HxModuleUniversal::remove_reference_snapshot_directory()";
    try {
        const std::string directory = reference_snapshot_directory_path();
        if (directory.empty() || !boost::filesystem::exists(directory))
            return;
        HxLogStream(HxLogLvl::Info) << "Remove obsolete snapshot directory: " << directory << std::endl;
        boost::filesystem::remove_all(directory);
    } catch (const boost::filesystem::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": boost::filesystem: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": exception: " << e.what() << std::endl;
    } catch (...) {
        // Never lets anything out: it runs on every way out of a restore.
    }
}
