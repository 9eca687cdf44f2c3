// The staging of a template backup before the engine runs: host check, clone,
// template files, image list, image descriptions and data, engine file list.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/leftovers.h"
#include "common/new_paths.h"
#include "common/safe_directory.h"
#include "opennebula/image_record.h"
#include "opennebula/template_queries.h"
#include "template_module/backup_records.h"
#include "template_module/backup_rules.h"
#include "template_module/staged_files.h"
#include "common/output_lines.h"

namespace fs = boost::filesystem;

using hx_opennebula_common::oneimage;
using kevra_template::log_prepare_error;

namespace {

// Why the entry that an earlier run left at the staging directory's name may
// not be cleared: empty for a private directory of root's, or a link or file of
// root's (taken away as an entry).
std::string stale_staging_problem(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::string();
    }
    return S_ISDIR(status.st_mode) ? kelvomar::safe_directory::private_directory_problem(path)
                                   : kelvomar::safe_directory::entry_owner_problem(path);
}

}  // namespace

bool HxModuleKevraTemplate::accept_archive_name()
{
    const std::string& name = options_.archive_name;
    // The staging directory D/A is removed with everything in it by the clean-up:
    // it must be a directory of its own inside the operation directory.
    if (!kevra_template::is_plain_file_name(name)) {
        log_prepare_error(": the archive name can't name a directory inside the operation directory: " + name);
        return false;
    }
    if (template_conf_.backup_only_config) {
        return true;
    }
    // The clone is made under this name; a template that already has it is
    // another's, whatever the platform would read the name as.
    if (!clone_name_is_free(kevra_template::kPrepareSignature)) {
        return false;
    }
    return true;
}

bool HxModuleKevraTemplate::prepare_resource_before_backup(const bool& replica)
{
    const std::string& source = options_.resource;
    const std::string& clone = options_.archive_name;
    const bool only_config = template_conf_.backup_only_config;
    HxLogStream(HxLogLvl::Info) << "Got a task to make a backup of template '" << source << "'" << std::endl;
    HxLogStream(HxLogLvl::Info) << "Copy name: " << clone << std::endl;

    const int code = check_client(false);
    if (code != 0) {
        log_prepare_error(": unable to run the module on this client. Reason: " + std::to_string(code));
        return false;
    }
    // Nothing has been created yet: a refused name needs no clean-up.
    if (!accept_archive_name()) {
        return false;
    }
    // Every later step refers to the saved template by this ID, so that a name
    // that another template takes meanwhile never leads to that template.
    if (source_template_id_.empty() && hx_opennebula_common::get_template_id(source, source_template_id_) != 0) {
        log_prepare_error(": can't get ID of the template: " + source);
        return false;
    }
    options_.resource_list_file = options_.tmp_operation_directory + "/" + clone + "." + "hxfd.list";
    // The list is written last, into the operation directory: a link standing
    // under its name is refused now, before anything is made.
    if (const int error = kelvomar::new_paths::check_replaceable(options_.resource_list_file)) {
        log_prepare_error(": can't write the resource list file " +
                          kelvomar::new_paths::new_paths_error(options_.resource_list_file, error));
        return false;
    }

    const auto clean_up = [this]() {
        clean_after_backup();
        return false;
    };
    const auto fail = [&clean_up](const std::string& text) {
        log_prepare_error(text);
        return clean_up();
    };

    const std::string directory = archive_directory_path();
    try {
        // The staging directory is this run's own: whatever an earlier run left
        // there (an exported Ceph image among it) would be archived or block the
        // export. A link there goes as a link (what it points to stays), and the
        // directory is then made new (mode 0700). Only root's own is cleared: a
        // directory that another user can change, or anything of another
        // user's, is left as it is and refused.
        if (fs::exists(fs::symlink_status(directory))) {
            const std::string problem = stale_staging_problem(directory);
            if (!problem.empty()) {
                return fail(": can't clear an earlier archive directory: " + problem + "; " +
                            kelvomar::safe_directory::private_directory_advice());
            }
            HxLogStream(HxLogLvl::Info) << "Removing an earlier archive directory: " << directory << std::endl;
            fs::remove_all(directory);
        }
        if (const int error = kelvomar::new_paths::make_new_directory(directory)) {
            return fail(": can't create directory: " + kelvomar::new_paths::new_paths_error(directory, error));
        }
        archive_directory_created_ = true;
        kelvomar::leftovers::note("archive-directory", "the directory " + directory);
        if (!only_config) {
            const std::string marker = snapshot_directory_path() + "/" + kevra_template::kImageIdsMarkerName;
            if (const int error = kelvomar::new_paths::replace_file(marker, std::string())) {
                return fail(": can't create " + kelvomar::new_paths::new_paths_error(marker, error));
            }
        }
    } catch (const fs::filesystem_error& e) {
        return fail(std::string(": filesystem_error: ") + e.what());
    }

    try {
        if (replica && only_config) {
            return fail(std::string(": the option '") + "backup_only_config" +
                        "' is set, but it must not at replica creation");
        }
        if (!only_config && clone_template() != 0) {
            return clean_up();
        }

        kevra_template::staged_files files;
        if (!stage_template_files(files)) {
            return clean_up();
        }
        std::vector<oneimage> images;
        if (!read_backup_images(images)) {
            return clean_up();
        }

        const std::string list_path = directory + "/" + kevra_template::kImageListName;
        std::ostringstream list;
        if (kelvomar::new_paths::entry_at(list_path) != kelvomar::new_paths::entry_kind::missing) {
            return fail(std::string(": can't create ") + kevra_template::kImageListName);
        }
        if (!files.add(list_path, kevra_template::kImageListName)) {
            return fail(std::string(": two files would have the same name in the archive: ") +
                        kevra_template::kImageListName);
        }
        if (!only_config) {
            list << kevra_template::clone_name_line(clone) << "\n";
            if (!pair_with_source_images(images)) {
                return clean_up();
            }
        }
        for (const oneimage& image : images) {
            list << kevra_template::image_list_line(image) << "\n";
            if (!stage_image(image, replica, files)) {
                return clean_up();
            }
        }
        if (const int error = kelvomar::new_paths::replace_file(list_path, list.str())) {
            return fail(std::string(": can't write ") + kelvomar::new_paths::new_paths_error(list_path, error));
        }

        // What is staged is the same for every backup type, and the engine is
        // told so: it makes a full archive, with no reference meta.
        if (options_.backup_type != 1) {
            kelvomar::output::print_line("SET BACKUP TYPE TO FULL");
            options_.backup_type = 1;
        }

        if (!add_to_hxfd_list_file(options_.resource_list_file, files.entries(), false)) {
            return fail(": failed to add paths to the resource list file: " + options_.resource_list_file);
        }
        resource_list_written_ = true;
        kelvomar::leftovers::note("list-file", "the file " + options_.resource_list_file);
        return true;
    } catch (const fs::filesystem_error& e) {
        return fail(std::string(": filesystem_error: ") + e.what());
    } catch (const std::exception& e) {
        return fail(std::string(": exception: ") + e.what());
    }
}
