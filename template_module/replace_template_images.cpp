// Application of a replica onto a template that exists: the data of each
// restored file or block-device image is written with dd over the storage of
// the template's image that stands for it; the template and its image
// definitions stay as they are.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <sys/stat.h>

#include <exception>
#include <string>
#include <vector>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "common/untrusted_files.h"
#include "opennebula/image_queries.h"
#include "opennebula/image_record.h"
#include "opennebula/template_queries.h"
#include "template_module/backup_rules.h"
#include "template_module/image_data_file.h"
#include "template_module/restore_rules.h"

namespace {

namespace fs = boost::filesystem;
using hx_opennebula_common::oneimage;

const char* const kSignature = "bool HxModuleKevraTemplate::replace_template_images(const std::string&)";

void log_error(const std::string& text)
{
    HxLogStream(HxLogLvl::Error) << kSignature << text << std::endl;
}

// Lets the commands started from now on inherit the open descriptor `fd`.
bool inherited_by_commands(int fd)
{
    const int flags = ::fcntl(fd, F_GETFD);
    return flags >= 0 && ::fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) == 0;
}

bool receives_data(const oneimage& image)
{
    return image.disk_type == hx_opennebula_common::DISK_TYPE_FILE ||
           image.disk_type == hx_opennebula_common::DISK_TYPE_BLOCK;
}

}  // namespace

bool HxModuleKevraTemplate::replace_template_images(const std::string& template_name)
{
    using kelvomar::shell_quote;
    try {
        // The template was restored from this chain before, so each of its
        // images carries the restore name: the template's name followed by the
        // clone image name's suffix. Those are the names to look for.
        restore_template_name_ = template_name;
        std::vector<oneimage> restored;
        if (get_backup_images(true, restored) != 0) {
            log_error(std::string(": unable to get images info from file: ") + kevra_template::kImageListName);
            return false;
        }
        // The template of that name, by its ID: the name may read as an ID or
        // a list on the platform, and two owners may use it.
        std::vector<std::string> ids;
        if (hx_opennebula_common::get_template_ids_by_name(template_name, ids) != 0 || ids.size() != 1) {
            log_error(": can't find exactly one template named '" + template_name + "' (" +
                      std::to_string(ids.size()) + " found)");
            return false;
        }
        std::vector<oneimage> current;
        if (hx_opennebula_common::get_template_image_list(ids.front(), current) != 0) {
            log_error(": can't get images info for template: " + template_name);
            return false;
        }

        // Every restored file is checked before the first one is written anywhere.
        for (const oneimage& record : restored) {
            if (!receives_data(record)) {
                continue;
            }
            const std::string file = restored_file_path(record);
            if (file.empty() || !check_restore_input(file, kSignature)) {
                return false;
            }
        }

        std::size_t with_data = 0;
        std::size_t written = 0;
        for (const oneimage& record : restored) {
            if (!receives_data(record)) {
                continue;
            }
            ++with_data;
            const std::string file = restored_file_path(record);
            if (file.empty()) {
                return false;
            }
            // dd reads the file that was checked, through its open descriptor.
            kelvomar::untrusted_files::input_file input;
            if (!open_restore_input(file, input, kSignature)) {
                return false;
            }
            // From here to the end of the copy no other user can open the file
            // anew or change its mode, whatever mode it had in the archive.
            std::string private_error;
            if (!kelvomar::untrusted_files::keep_private(input.file.get(), private_error)) {
                log_error(": the restored file " + file + " can't be made the run's own: " + private_error);
                return false;
            }
            if (!inherited_by_commands(input.file.get())) {
                log_error(": the restored file " + file + " can't be handed to dd");
                return false;
            }
            const std::string source = "/proc/self/fd/" + std::to_string(input.file.get());
            const std::uint64_t restored_mib =
                kevra_template::needed_mib(static_cast<std::uint64_t>(input.status.st_size));
            bool matched = false;
            for (const oneimage& image : current) {
                if (image.name != record.restore_name) {
                    continue;
                }
                matched = true;
                // The platform keeps sizes in whole MiB: the restored data must fill the same number.
                if (kevra_template::needed_mib(image.size) != restored_mib) {
                    log_error(": image with the name '" + image.name + "' unexpectedly has wrong size: " +
                              std::to_string(image.size));
                    return false;
                }
                int state = -1;
                if (hx_opennebula_common::get_image_state(image.id, state) != 0) {
                    log_error(": can't get state for the image '" + image.name + "'");
                    return false;
                }
                if (state != 1) {
                    log_error(": image '" + image.name + "' is not in 'ready' state");
                    return false;
                }
                // dd writes into the image's file or device as it was opened
                // here, never through a link that stands at its SOURCE.
                kelvomar::untrusted_files::descriptor target;
                struct stat target_status {};
                std::string refusal;
                if (!kevra_template::open_image_data(image, O_WRONLY, target, target_status, refusal)) {
                    log_error(": the data of the image '" + image.name + "' can't be written: " + refusal +
                              "; a replica writes only into a regular file or block device reached without a "
                              "symbolic link that another user can change");
                    return false;
                }
                if (!inherited_by_commands(target.get())) {
                    log_error(": the data of the image '" + image.name + "' can't be handed to dd");
                    return false;
                }
                const std::string destination = "/proc/self/fd/" + std::to_string(target.get());
                const std::string command = std::string("/bin/dd") + " if=" + shell_quote(source) +
                                            " of=" + shell_quote(destination) + " bs=" +
                                            std::to_string(template_conf_.dd_block_size) + "M";
                std::string output;
                if (hx_utils_common::execute_command(command, output) != 0) {
                    log_error(": the following command produced an error: " + command);
                    HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
                    return false;
                }
                HxLogStream(HxLogLvl::Info) << "The data of the image '" << record.name << "' (" << file
                                            << ") was written over the image '" << image.name << "' ("
                                            << image.printed_source << "): " << command << std::endl;
                ++written;
            }
            if (!matched) {
                HxLogStream(HxLogLvl::Warning) << "The restored image '" << record.name
                                               << "' matches no image of the template '" << template_name
                                               << "'; its data was not written" << std::endl;
            }
        }
        // A replica that writes nothing has not been applied.
        if (with_data != 0 && written == 0) {
            log_error(": none of the restored images matches an image of the template '" + template_name +
                      "'; nothing was written");
            return false;
        }
        return true;
    } catch (const fs::filesystem_error& e) {
        log_error(std::string(": filesystem_error: ") + e.what());
    } catch (const std::exception& e) {
        log_error(std::string(": exception: ") + e.what());
    }
    return false;
}
