// The snapshot file: a gzip-compressed tar archive of the snapshot directory,
// which travels beside the engine's archive and carries the engine's meta file
// and the module's own description files.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/new_paths.h"
#include "common/quoting.h"
#include "common/safe_directory.h"
#include "common/shell_quote.h"
#include "modules/shell_escaping.h"
#include "modules/snapshot_members.h"

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <exception>
#include <vector>

namespace {

namespace fs = boost::filesystem;

const char kUnpackSignature[] = "int HxModuleUniversal::unpack_snapshot_file(const std::string&)";
const char kPackSignature[] = "int HxModuleUniversal::pack_snapshot_file() const";

// Folders made for snapshot files that must be unpacked away from the operation
// directory; they are removed when the process ends.
class PrivateUnpackFolders {
public:
    ~PrivateUnpackFolders()
    {
        for (const std::string& folder : folders_) {
            boost::system::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    }

    // A new empty folder of this process; empty when none could be made.
    std::string make()
    {
        std::string pattern = (fs::temp_directory_path() / "kevra_template-snapshot-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr)
            return std::string();
        folders_.emplace_back(buffer.data());
        return folders_.back();
    }

private:
    std::vector<std::string> folders_;
};

PrivateUnpackFolders& private_unpack_folders()
{
    static PrivateUnpackFolders folders;
    return folders;
}

// Makes `folder` new (mode 0700) for an unpacked snapshot file: a private
// directory of an earlier run there is removed first; a link, a directory that
// another user can change (left as it is) or anything else there is refused,
// as is an operation directory that is not a real directory. False after logging.
bool make_unpack_folder(const std::string& folder)
{
    using namespace kelvomar::new_paths;
    const auto refuse = [](const std::string& path, int error) {
        HxLogStream(HxLogLvl::Error) << kUnpackSignature << ": can't unpack into " << new_paths_error(path, error)
                                     << std::endl;
        return false;
    };
    const std::string parent = fs::path(folder).parent_path().string();
    bool made = false;
    if (const int error = use_or_make_directory(parent, true, made)) {
        return refuse(parent, error);
    }
    switch (entry_at(folder)) {
    case entry_kind::missing: break;
    case entry_kind::directory: {
        const std::string problem = kelvomar::safe_directory::private_directory_problem(folder);
        if (!problem.empty()) {
            HxLogStream(HxLogLvl::Error) << kUnpackSignature << ": can't unpack into " << problem << "; "
                                         << kelvomar::safe_directory::private_directory_advice() << std::endl;
            return false;
        }
        HxLogStream(HxLogLvl::Warning) << kUnpackSignature << ": Removing already existing directory " << folder
                                       << std::endl;
        fs::remove_all(folder);
        break;
    }
    case entry_kind::link: return refuse(folder, ELOOP);
    default: return refuse(folder, ENOTDIR);
    }
    if (const int error = make_new_directory(folder)) {
        return refuse(folder, error);
    }
    return true;
}

// The file-creation mask for tar's unpacking, and the one before it again
// after it, however the unpacking ends.
class UnpackMask {
public:
    UnpackMask() : before_(::umask(077)) {}
    ~UnpackMask() { ::umask(before_); }
    UnpackMask(const UnpackMask&) = delete;
    UnpackMask& operator=(const UnpackMask&) = delete;

private:
    mode_t before_;
};

// Makes sure the unpacked `folder` is still root's with mode 0700, whatever
// the snapshot file said of its "./" entry; through a descriptor of the folder
// itself, never a link at its name. False after logging.
bool keep_unpack_folder_private(const std::string& folder)
{
    kelvomar::untrusted_files::descriptor directory(
        ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::string error;
    if (!directory.valid()) {
        error = std::strerror(errno);
    } else if (kelvomar::untrusted_files::set_owner_and_mode(directory.get(), ::geteuid(), ::getegid(), 0700,
                                                             error)) {
        return true;
    }
    HxLogStream(HxLogLvl::Error) << kUnpackSignature << ": can't keep the unpacked folder " << folder
                                 << " private: " << error << std::endl;
    return false;
}

}  // namespace

int HxModuleUniversal::unpack_snapshot_file(const std::string& file)
{
    HxLogStream(HxLogLvl::Debug) << kUnpackSignature << " : " << "unpacking: " << file << std::endl;
    const fs::path path(file);
    const std::string extension = path.extension().string();

    if (extension == ".meta") {
        options_.snapshot_meta_file = file;
        return 0;
    }
    if (extension != ".snap") {
        HxLogStream(HxLogLvl::Error) << "Invalid snapshot file extension: " << kelvomar::as_quoted(file, '"', '\\')
                                     << std::endl;
        return 12;
    }
    // Only plain files and directories that stay inside the folder are
    // unpacked; tar lists and unpacks the one file opened here.
    kelvomar::untrusted_files::input_file snapshot;
    std::string source;
    if (!kelvomar::module::open_snapshot_file(file, snapshot, source, kUnpackSignature) ||
        !kelvomar::module::snapshot_members_acceptable(file, source, kUnpackSignature)) {
        return 12;
    }

    // Deleting or verifying a stored backup must leave its snapshot file where and
    // as it is, and must not write into the storage: unpack into a private folder.
    const bool stored_backup = options_.operation == op_delete_from_client_defined_storage ||
                               options_.operation == op_verify_in_client_defined_storage;
    if (stored_backup) {
        const std::string folder = private_unpack_folders().make();
        if (folder.empty()) {
            HxLogStream(HxLogLvl::Error) << kUnpackSignature << ": can't create a temporary directory in "
                                         << fs::temp_directory_path().string() << std::endl;
            return 12;
        }
        reference_snapshot_directory_ = folder;
    } else {
        const std::string folder =
            options_.tmp_operation_directory + "/" + path.filename().stem().string() + ".snap_dir";
        if (!make_unpack_folder(folder)) {
            return 12;
        }
        reference_snapshot_directory_ = folder;
    }

    // The folder is made 0700 and stays so: tar leaves an existing folder as
    // it is (its "./" entry may say 0777 and another owner), gives nothing the
    // owner the snapshot names, and the mask 077 keeps whatever it makes
    // private, so no other user can list or write into it while tar works.
    std::string directory = reference_snapshot_directory_;
    shield_string_for_command(directory);
    const std::string command = "/bin/tar xzf " + kelvomar::shell_quote(source) +
                                " --no-same-owner --no-same-permissions --no-overwrite-dir -C " + directory;
    std::string output;
    int code = 0;
    {
        const UnpackMask mask;
        code = hx_utils_common::execute_command(command, output);
    }
    if (code != 0) {
        HxLogStream(HxLogLvl::Error) << kUnpackSignature << ": command: '" << command << "' returned code: " << code
                                     << " result: " << output << std::endl;
        return 12;
    }
    if (!keep_unpack_folder_private(reference_snapshot_directory_)) {
        return 12;
    }

    if (!options_.autonomous && !stored_backup) {
        HxLogStream(HxLogLvl::Info) << "Removing obsolete snapshot file: " << file << std::endl;
        try {
            fs::remove(path);
        } catch (const fs::filesystem_error& e) {
            HxLogStream(HxLogLvl::Error) << kUnpackSignature << ": filesystem error: " << e.what() << std::endl;
            return 12;
        }
    }

    for (fs::directory_iterator entry(reference_snapshot_directory_), end; entry != end; ++entry) {
        if (entry->path().extension() == ".meta") {
            options_.snapshot_meta_file = entry->path().string();
            return 0;
        }
    }
    HxLogStream(HxLogLvl::Debug) << kUnpackSignature << ": command: '" << command << "' returned code: " << code
                                 << " result: " << output << std::endl;
    HxLogStream(HxLogLvl::Error) << kUnpackSignature << "Snapshot doesn't contain any metafile!" << std::endl;
    return 12;
}

int HxModuleUniversal::pack_snapshot_file() const
{
    // tar writes into a file of this run's own, which then takes the snapshot
    // file's name: a link standing there is never written through.
    const std::string target = snapshot_filename();
    kelvomar::new_paths::new_file packed(target);
    if (packed.error() != 0) {
        HxLogStream(HxLogLvl::Error) << "Unable to pack snapshot file: "
                                     << kelvomar::new_paths::new_paths_error(target, packed.error()) << std::endl;
        return 12;
    }
    const std::string command = "cd " + kelvomar::shell_quote(snapshot_directory_path()) + " && " + "/bin/tar" +
                                " czf " + kelvomar::shell_quote(packed.descriptor_path()) + " .";
    std::string output;
    const int code = hx_utils_common::execute_command(command, output);
    if (code != 0) {
        HxLogStream(HxLogLvl::Debug) << kPackSignature << ": command: '" << command << "' returned code: " << code
                                     << " result: " << output << std::endl;
        HxLogStream(HxLogLvl::Error) << "Unable to pack snapshot file: " << output << std::endl;
        return 12;
    }
    if (const int error = packed.commit()) {
        HxLogStream(HxLogLvl::Error) << "Unable to pack snapshot file: "
                                     << kelvomar::new_paths::new_paths_error(target, error) << std::endl;
        return 12;
    }
    return 0;
}
