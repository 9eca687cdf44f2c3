// Re-creation of one image at a restore: a datastore with room is chosen, the
// restored file is handed to the platform through the datastore's first safe
// directory under a name of this run's own, the image is created from it and
// waited for until it is ready.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <climits>
#include <cstdint>
#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/leftovers.h"
#include "common/shell_quote.h"
#include "common/termination.h"
#include "common/untrusted_files.h"
#include "opennebula/datastore_choice.h"
#include "opennebula/datastore_queries.h"
#include "opennebula/image_lists.h"
#include "opennebula/image_queries.h"
#include "opennebula/image_record.h"
#include "opennebula/object_ids.h"
#include "template_module/backup_rules.h"
#include "template_module/ended_command_rule.h"
#include "template_module/restore_rules.h"

namespace {

namespace fs = boost::filesystem;
namespace untrusted_files = kelvomar::untrusted_files;
using hx_opennebula_common::oneimage;

const char* const kSignature = "int HxModuleKevraTemplate::create_one_image(const std::string&, oneimage&)";

void log_error(const std::string& text)
{
    HxLogStream(HxLogLvl::Error) << kSignature << text << std::endl;
}

// The file that this run puts into the safe directory for the import. Its name
// is reserved by creating it new (no other run gets it, nothing that stands
// there, a link included, is used or overwritten), and only this file is
// removed again, on every way out.
class import_file {
public:
    // `in_use` names the reserved file for as long as it stands there, so that
    // a termination, which does not unwind the run, removes it too.
    explicit import_file(std::string& in_use) : in_use_(in_use) {}
    import_file(const import_file&) = delete;
    import_file& operator=(const import_file&) = delete;
    ~import_file() { remove(); }

    // Reserves a new file in `directory` named after `file_name`; false with
    // `error` set when none can be made.
    bool reserve(const std::string& directory, const std::string& file_name, std::string& error)
    {
        directory_.reset(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!directory_.valid()) {
            error = std::generic_category().message(errno);
            return false;
        }
        std::string name;
        if (!untrusted_files::create_new_file(directory_.get(), file_name + ".restore-", name, file_, error)) {
            return false;
        }
        name_ = name;
        path_ = directory + "/" + name;
        in_use_ = path_;
        kelvomar::leftovers::note("import-file", "the file " + path_);
        return true;
    }

    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; }
    int directory() const { return directory_.get(); }
    // The reserved file, open for writing.
    int file() const { return file_.get(); }

    void remove()
    {
        if (path_.empty()) {
            return;
        }
        ::unlinkat(directory_.get(), name_.c_str(), 0);  // never a directory: one left there by others stays
        file_.reset();
        path_.clear();
        name_.clear();
        in_use_.clear();
        kelvomar::leftovers::forget("import-file");
    }

private:
    std::string& in_use_;
    untrusted_files::descriptor directory_;
    untrusted_files::descriptor file_;
    std::string name_;
    std::string path_;
};

// The owner and mode of every file handed to the platform: its service
// account's alone, whatever mode the file had in the archive (no set-ID,
// sticky, group or world bit).
constexpr mode_t kHandedMode = 0600;

void log_ownership_failure(const std::string& destination, const std::string& error)
{
    log_error(": can't change ownership to oneadmin:oneadmin for the file: " + destination);
    HxLogStream(HxLogLvl::Error) << "Output of the 'chown' command: " << error << std::endl;
}

// Puts the checked restored file `restored` into the reserved file
// `destination` and gives it to the platform's service account with the mode
// kHandedMode: moved when `keep` is false and both lie on one file system, else
// copied (the original removed unless `keep`). The owner and mode are set
// through the open file before it stands in the safe directory, so no other
// user can write it or run it there at any moment. False after its Error records.
bool hand_over(untrusted_files::input_file& restored, import_file& destination, bool keep, const std::string& path,
               const std::string& import_directory)
{
    std::string error;
    if (keep) {
        // The kept file stays in the operation directory: root's alone, never
        // a set-ID program or a file that others may change.
        if (!untrusted_files::keep_private(restored.file.get(), error)) {
            log_error(": the restored file " + path + " can't be made the run's own: " + error);
            return false;
        }
    } else {
        if (!untrusted_files::give_file_to(restored.file.get(), "oneadmin", "oneadmin", kHandedMode, error)) {
            log_ownership_failure(destination.path(), error);
            return false;
        }
        const untrusted_files::move_result moved =
            untrusted_files::move_input_file(restored, destination.directory(), destination.name(), error);
        if (moved == untrusted_files::move_result::moved) {
            return true;
        }
        if (moved == untrusted_files::move_result::failed) {
            log_error(": unable to move file: " + path + " to safe directory for import: " + import_directory);
            HxLogStream(HxLogLvl::Error) << "Command output: " << error << std::endl;
            return false;
        }
    }
    // The reserved file was made new with mode 0600 and stays root's until it is full.
    if (!untrusted_files::copy_file_content(restored.file.get(), destination.file(), error) ||
        (!keep && !untrusted_files::remove_input_file(restored, error))) {
        log_error(": unable to move file: " + path + " to safe directory for import: " + import_directory);
        HxLogStream(HxLogLvl::Error) << "Command output: " << error << std::endl;
        return false;
    }
    if (!untrusted_files::give_file_to(destination.file(), "oneadmin", "oneadmin", kHandedMode, error)) {
        log_ownership_failure(destination.path(), error);
        return false;
    }
    return true;
}

// The datastore with room for `need` MiB that the platform chooses; empty when none fits.
std::string any_image_datastore(std::uint64_t need)
{
    const unsigned int need_mb = need > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(need);
    std::string id;
    if (hx_opennebula_common::get_any_image_datastore(need_mb, id) != 0) {
        return std::string();
    }
    return id;
}

// The first piece of SAFE_DIRS, its entries separated by blanks or commas.
std::string first_safe_dir(const std::string& safe_dirs)
{
    const std::string::size_type end = safe_dirs.find_first_of(" ,");
    return safe_dirs.substr(0, end);
}

void log_wait_failure(const std::string& text, const std::string& command, const std::string& output)
{
    HxLogStream(HxLogLvl::Error) << kSignature << text << std::endl;
    HxLogStream(HxLogLvl::Error) << "Command was: " << command << std::endl;
    HxLogStream(HxLogLvl::Error) << "Command result: " << output << std::endl;
}

}  // namespace

int HxModuleKevraTemplate::create_one_image(const std::string& path, oneimage& image)
{
    using kelvomar::quote_style;
    using kelvomar::shell_quote;
    using namespace hx_opennebula_common;
    try {
        import_file destination(import_file_in_use_);
        HxLogStream(HxLogLvl::Info) << "Creating new image from: " << path << std::endl;
        HxLogStream(HxLogLvl::Info) << "Original image was located in datastore with ID: " << image.datastore_id
                                    << std::endl;
        // Everything below acts on this file, as it was checked.
        untrusted_files::input_file restored;
        if (!open_restore_input(path, restored, kSignature)) {
            return 12;
        }
        const std::uint64_t need = kevra_template::needed_mib(static_cast<std::uint64_t>(restored.status.st_size));

        bool find_another = true;
        if (does_datastore_exist(image.datastore_id)) {
            HxLogStream(HxLogLvl::Info) << "Checking datastore capacity ..." << std::endl;
            int free_mb = 0;
            if (get_datastore_capacity_mb(image.datastore_id, free_mb) != 0) {
                log_error(": can't get capacity of datastore with ID" + image.datastore_id);
                return 12;
            }
            find_another = free_mb < 0 || static_cast<std::uint64_t>(free_mb) < need;
            if (find_another) {
                HxLogStream(HxLogLvl::Warning) << "There is not enough free space in the datastore with ID: "
                                               << image.datastore_id << ". Required: " << need << " MiB" << std::endl;
                HxLogStream(HxLogLvl::Info) << "Trying to find another image datastore ..." << std::endl;
            }
        } else {
            HxLogStream(HxLogLvl::Warning) << kSignature << ": datastore ID: " << image.datastore_id
                                           << "doesn't exist: " << std::endl;
        }
        if (find_another) {
            const std::string other = any_image_datastore(need);
            if (other.empty()) {
                log_error(std::string(": can't find suitable image datastore. ") +
                          "Required capacity: " + std::to_string(need) + " MiB");
                return 12;
            }
            image.datastore_id = other;
        }
        HxLogStream(HxLogLvl::Info) << "Trying to restore the image: " << image.restore_name
                                    << " into the datastore with ID: " << image.datastore_id << std::endl;
        const std::string type_name = type_to_str(image.type);
        const std::string disk_type_name = disk_type_to_str(image.disk_type);

        std::string safe_dirs;
        if (get_safe_dirs_from_datastore(image.datastore_id, safe_dirs) != 0) {
            log_error(": can't get safe dirs from the datastore with ID: " + image.datastore_id);
            return 12;
        }
        const std::string import_directory = first_safe_dir(safe_dirs);
        if (import_directory.empty()) {
            log_error(": can't get safe dirs from the datastore ID: " + image.datastore_id);
            return 12;
        }
        if (!fs::exists(import_directory)) {
            log_error(": safe dir doesn't exist: " + import_directory);
            return 12;
        }
        if (!fs::is_directory(import_directory)) {
            log_error(":this is not a directory: " + import_directory);
            return 12;
        }
        std::string reserve_error;
        if (!destination.reserve(import_directory, fs::path(path).filename().string(), reserve_error)) {
            log_error(": can't reserve a file of this restore in the safe directory for import: " +
                      import_directory + ": " + reserve_error);
            return 12;
        }
        // A replica application keeps its restored file; every other restore moves it.
        if (!hand_over(restored, destination, options_.operation == op_apply_replica, path, import_directory)) {
            return 12;
        }

        std::string command = "/usr/bin/oneimage create -d " + shell_quote(image.datastore_id) + " --name " +
                              shell_quote(image.restore_name, quote_style::always) + " --path " +
                              shell_quote(destination.path(), quote_style::always);
        // An empty prefix would take the next option as its value: the platform's default is used instead.
        if (!image.dev_prefix.empty()) {
            command += " --prefix " + shell_quote(image.dev_prefix);
        }
        const bool known_version = is_known_platform_version();
        const bool with_driver = kevra_template::takes_driver_option(image.driver, platform_version_, known_version);
        if (!known_version && !image.driver.empty()) {
            HxLogStream(HxLogLvl::Warning) << "The Kevra version '" << platform_version_ << "' is unknown: the image '"
                                           << image.restore_name << "' is created "
                                           << (with_driver ? "with" : "without") << " the option --driver "
                                           << "(the platforms before version 3 take it, the later ones refuse it)"
                                           << std::endl;
        }
        if (with_driver) {
            command += " --driver " + shell_quote(image.driver);
        }
        command += " --type " + shell_quote(type_name);
        command += " --disk_type " + shell_quote(disk_type_name);
        if (kevra_template::restored_persistent(template_conf_.set_images_persistent, image.persistent)) {
            command += " --persistent";
            HxLogStream(HxLogLvl::Info) << "Image '" << image.restore_name << "' will be created as persistent one"
                                        << std::endl;
        }
        std::string create_output;
        int create_status = 0;
        // Until the command has told what it made, a termination's clean-up
        // looks for the image by its name, which was free when it was chosen,
        // among the images made after the listing right before the command.
        std::vector<pool_object> pool;
        if (get_image_pool(pool) != 0) {
            log_error(": can't read the image pool before the image is created");
            return 12;
        }
        pending_image_ = {image.restore_name, highest_object_id(pool)};
        kelvomar::leftovers::note("image-name",
                                  kevra_template::pending_object_text("image", pending_image_) + " (ID not known)");
        {
            // A termination gives the command a grace: its output names the image it made.
            const kelvomar::termination::uninterrupted object_creation;
            create_status = hx_utils_common::execute_command(command, create_output);
        }
        // The ID the command printed names this run's image for certain: the
        // wait asks by it, and a failed restore deletes it again.
        const std::string created_id = printed_object_id(create_output);
        if (!created_id.empty()) {
            restored_image_ids_.push_back(created_id);
            kelvomar::leftovers::note("image " + created_id,
                                      "the image '" + image.restore_name + "' ID " + created_id);
        }
        if (!created_id.empty() || !kelvomar::termination::ended_by_termination(create_status)) {
            pending_image_ = {};
            kelvomar::leftovers::forget("image-name");
        }
        if (create_status != 0) {
            log_error(": unable to create the image: " + create_output);
            HxLogStream(HxLogLvl::Error) << "Command was: " << command << std::endl;
            HxLogStream(HxLogLvl::Error) << "It looks like the error is in OpenNebula. "
                                         << "Check the log file: /var/log/one/oned.log" << std::endl;
            HxLogStream(HxLogLvl::Error) << "You can try to restore the VM once again" << std::endl;
            return 12;
        }
        const std::string reference = created_id.empty() ? image.restore_name : created_id;

        HxLogStream(HxLogLvl::Info) << "Waiting while the image is ready ..." << std::endl;
        for (;;) {
            int state = -1;
            if (get_image_state(reference, state) != 0) {
                log_error(": can't get state for the image '" + image.restore_name + "'");
                return 12;
            }
            using kevra_template::clone_image_wait;
            const clone_image_wait action = kevra_template::classify_clone_image_state(state);
            if (action == clone_image_wait::ready) {
                HxLogStream(HxLogLvl::Info) << "Image: '" << image.restore_name << "' is ready" << std::endl;
                break;
            }
            if (action == clone_image_wait::changing) {
                kelvomar::termination::sleep_for(std::chrono::seconds(1));
                continue;
            }
            const std::string quoted = "'" + image.restore_name + "'";
            switch (action) {
            case clone_image_wait::disabled:
                log_wait_failure(": image: " + quoted + " has state disabled", command, create_output);
                break;
            case clone_image_wait::error:
                log_wait_failure(": image: " + quoted + " has state error", command, create_output);
                break;
            case clone_image_wait::deleting:
                log_wait_failure(": image: " + quoted + " has state deleting now", command, create_output);
                break;
            default:
                log_wait_failure("The image: " + quoted + " is in wrong state: " + std::to_string(state), command,
                                 create_output);
                break;
            }
            return 12;
        }

        std::string id = created_id;
        if (id.empty() && get_image_id(image.restore_name, id) != 0) {
            log_error(": can't get ID of the image '" + image.restore_name + "'");
            return 12;
        }
        HxLogStream(HxLogLvl::Info) << "The image was created successfully: Name: '" << image.restore_name
                                    << "', ID: " << id << std::endl;
        return 0;
    } catch (const fs::filesystem_error& e) {
        log_error(std::string(": filesystem_error: ") + e.what());
        return 19;
    } catch (const std::exception& e) {
        log_error(std::string(": std::exception: ") + e.what());
        return 20;
    }
}
