// The clean-up after a template backup: the staging directory, the engine file
// list and the clone (by the ID its command printed), each only when this run created it.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <exception>
#include <string>

#include "common/hx_logger.h"
#include "common/leftovers.h"
#include "opennebula/template_queries.h"

namespace fs = boost::filesystem;

bool HxModuleKevraTemplate::release_resource_after_backup()
{
    if (clean_after_backup() == 0) {
        return true;
    }
    HxLogStream(HxLogLvl::Error) << __PRETTY_FUNCTION__ << ": unable to release resources" << std::endl;
    return false;
}

int HxModuleKevraTemplate::clean_after_backup()
{
    const std::string signature = __PRETTY_FUNCTION__;
    try {
        if (archive_directory_created_) {
            const std::string directory = archive_directory_path();
            if (fs::exists(fs::symlink_status(directory))) {
                HxLogStream(HxLogLvl::Info) << "Removing the archive directory: " << directory << std::endl;
                fs::remove_all(directory);
            }
            archive_directory_created_ = false;
            kelvomar::leftovers::forget("archive-directory");
        }
        const std::string& list_file = options_.resource_list_file;
        if (resource_list_written_ && fs::is_regular_file(fs::symlink_status(list_file))) {
            HxLogStream(HxLogLvl::Info) << "Removing the resource list file: " << list_file << std::endl;
            fs::remove(list_file);
            resource_list_written_ = false;
            kelvomar::leftovers::forget("list-file");
        }
        const std::string& clone = options_.archive_name;
        if (!template_conf_.backup_only_config && !clone_id_.empty()) {
            if (hx_opennebula_common::delete_template(clone_id_, clone) != 0) {
                HxLogStream(HxLogLvl::Error) << signature << ": can't delete the template: " << clone << std::endl;
                return 12;
            }
            clone_id_.clear();
            clone_requested_ = false;
            pending_clone_ = {};
            kelvomar::leftovers::forget("clone");
        } else if (!template_conf_.backup_only_config && !pending_clone_.name.empty()) {
            // Only a template that can be nobody else's goes (otherwise the
            // record names what has the clone's name, and all of it stays),
            // and of the images it names only its own copies.
            if (!delete_clone_of_ended_command(pending_clone_, image_id_before_clone_, signature)) {
                return 12;
            }
            clone_requested_ = false;
            pending_clone_ = {};
            kelvomar::leftovers::forget("clone");
        } else if (clone_requested_) {
            // The command was started but no ID came back (it failed, or the run
            // was ended while it worked): a template of that name is not known
            // to be this run's, and stays.
            HxLogStream(HxLogLvl::Warning) << signature << ": the clone command of '" << clone
                                           << "' reported no template ID; no template is deleted" << std::endl;
            clone_requested_ = false;
        }
        return 0;
    } catch (const fs::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << signature << ":filesystem_error: " << e.what() << std::endl;
        return 19;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << signature << ": exception: " << e.what() << std::endl;
        return 20;
    }
}
