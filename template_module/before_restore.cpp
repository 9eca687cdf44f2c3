// The checks of a template restore before the archive engine unpacks it, and
// the hooks after the engine run, which have nothing to do for a template.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <exception>
#include <string>

#include "common/hx_logger.h"
#include "common/untrusted_files.h"
#include "template_module/client_check.h"
#include "template_module/restore_rules.h"

namespace {

const char* const kBeforeSignature = "virtual bool HxModuleKevraTemplate::before_restore()";
const char* const kDirectorySignature = "virtual int HxModuleKevraTemplate::define_restore_directory()";

// The record id or archive to patch that would lead outside the operation
// directory, with what it is; empty `what` when both are confined.
struct unconfined_value {
    const char* what = nullptr;
    std::string value;
};

unconfined_value find_unconfined(const HxModuleOptions& options)
{
    unconfined_value found;
    if (!kevra_template::is_confined_name(options.record_id)) {
        found.what = "record ID";
        found.value = options.record_id;
    } else if (!kevra_template::is_confined_name(options.archive_to_patch)) {
        found.what = "archive to patch";
        found.value = options.archive_to_patch;
    }
    return found;
}

}  // namespace

int HxModuleKevraTemplate::define_restore_directory()
{
    // The restore directory is removed with everything in it when the restore
    // ends: a name that climbs out of the operation directory is refused
    // before anything is made.
    const unconfined_value unconfined = find_unconfined(options_);
    if (unconfined.what != nullptr) {
        HxLogStream(HxLogLvl::Error) << kDirectorySignature << ": the " << unconfined.what << " '" << unconfined.value
                                     << "' can't name a directory inside the operation directory" << std::endl;
        return 1;
    }
    operation_directory_ = options_.tmp_operation_directory;
    return HxModuleUniversal::define_restore_directory();
}

bool HxModuleKevraTemplate::before_restore()
{
    namespace fs = boost::filesystem;
    HxLogStream(HxLogLvl::Info) << "Got a task to restore an archive " << options_.record_id << std::endl;
    try {
        const unconfined_value unconfined = find_unconfined(options_);
        if (unconfined.what != nullptr) {
            HxLogStream(HxLogLvl::Error) << kBeforeSignature << ": the " << unconfined.what << " '"
                                         << unconfined.value << "' can't name a directory inside the operation directory"
                                         << std::endl;
            return false;
        }
        if (template_conf_.backup_only_config && !template_conf_.restore_only_config) {
            HxLogStream(HxLogLvl::Error) << kBeforeSignature << ": flag '" << "restore_only_config"
                                         << "' is not set, but flag '" << "backup_only_config"
                                         << "' was set during the backup, so the are no images to restore"
                                         << std::endl;
            return false;
        }
        // The directory the engine unpacks into, itself no link and reached through none.
        const std::string& directory = options_.tmp_operation_directory;
        const fs::file_status status = fs::symlink_status(directory);
        if (!fs::exists(status)) {
            HxLogStream(HxLogLvl::Error) << kBeforeSignature << ": directory " << directory << " doesn't exist"
                                         << std::endl;
            return false;
        }
        if (!fs::is_directory(status)) {
            HxLogStream(HxLogLvl::Error) << kBeforeSignature << ":this is not a directory: " << directory
                                         << std::endl;
            return false;
        }
        std::string base;
        std::string relative;
        kelvomar::untrusted_files::descriptor opened;
        std::string refusal = "does not lie inside the operation directory";
        if (!below_operation_directory(directory, base, relative) ||
            !kelvomar::untrusted_files::open_directory_below(base, relative, opened, refusal)) {
            HxLogStream(HxLogLvl::Error) << kBeforeSignature << ": the restore directory " << directory << " "
                                         << refusal << std::endl;
            return false;
        }
        return kevra_template::checked_client(*this, kBeforeSignature) == 0;
    } catch (const fs::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kBeforeSignature << ": filesystem_error:" << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kBeforeSignature << ": exception:" << e.what() << std::endl;
    }
    return false;
}

bool HxModuleKevraTemplate::after_restore()
{
    return true;
}

bool HxModuleKevraTemplate::after_restore_last_file()
{
    return true;
}
