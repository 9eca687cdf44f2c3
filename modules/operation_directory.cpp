// The names of everything a backup, restore or replica keeps in the operation
// directory, and the restore directory inside it.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/leftovers.h"
#include "common/new_paths.h"
#include "common/safe_directory.h"

#include <boost/filesystem.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <exception>

namespace {

const char kRestoreSignature[] = "virtual int HxModuleUniversal::define_restore_directory()";

std::string lower_case(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The restore name of an autonomous archive: the text after the first "_full_"
// (any letter case) up to the next one or the end; the whole stem without one.
std::string autonomous_restore_name(const std::string& archive_name)
{
    const std::string stem = boost::filesystem::path(archive_name).filename().stem().string();
    static const std::string separator = "_full_";
    const std::string lowered = lower_case(stem);
    const std::size_t first = lowered.find(separator);
    if (first == std::string::npos)
        return stem;
    const std::size_t begin = first + separator.size();
    const std::size_t next = lowered.find(separator, begin);
    return stem.substr(begin, next == std::string::npos ? std::string::npos : next - begin);
}

// 0 when `error` is 0; otherwise logs why `directory` can't be used and gives 1.
int refuse_restore_directory(const std::string& directory, int error)
{
    if (error == 0)
        return 0;
    HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": can't use the restore directory "
                                 << kelvomar::new_paths::new_paths_error(directory, error) << std::endl;
    return 1;
}

// 0 when `problem` is empty; otherwise logs why `what` can't be used, and
// what would make it acceptable, and gives 1.
int refuse_directory(const std::string& what, const std::string& problem, const std::string& advice)
{
    if (problem.empty())
        return 0;
    HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": can't use the " << what << " " << problem << "; "
                                 << advice << std::endl;
    return 1;
}

// The directory the restore directory stands in: the operation directory, or
// "/" when none is given.
std::string operation_directory_of(const std::string& directory)
{
    return directory.empty() ? std::string("/") : directory;
}

}  // namespace

std::string HxModuleUniversal::archive_filename() const
{
    const std::string file = options_.tmp_operation_directory + "/" + options_.archive_name;
    return options_.autonomous ? file + ".hxfd" : file;
}

std::string HxModuleUniversal::snapshot_filename() const
{
    return options_.tmp_operation_directory + "/" + options_.archive_name + ".snap";
}

std::string HxModuleUniversal::snapshot_directory_path() const
{
    return options_.tmp_operation_directory + "/" + options_.archive_name + ".snap_dir";
}

std::string HxModuleUniversal::leveldb_directory_path() const
{
    return snapshot_directory_path() + "/leveldb";
}

std::string HxModuleUniversal::meta_filename() const
{
    return snapshot_directory_path() + "/" + options_.archive_name + ".meta";
}

std::string HxModuleUniversal::reference_snapshot_directory_path() const
{
    HxLogStream(HxLogLvl::Debug) << "std::string HxModuleUniversal::reference_snapshot_directory_path() const"
                                 << " : " << reference_snapshot_directory_ << std::endl;
    return reference_snapshot_directory_;
}

std::string HxModuleUniversal::archive_sign_filename()
{
    return archive_filename() + ".signature";
}

int HxModuleUniversal::define_restore_directory()
{
    namespace fs = boost::filesystem;
    try {
        std::string& directory = options_.tmp_operation_directory;
        // A replica is one archive, unpacked afresh: it patches no earlier one.
        const bool replica = options_.operation == op_apply_replica;
        if (!replica && !options_.archive_to_patch.empty()) {
            if (options_.archive_to_patch.find('/') != std::string::npos) {
                HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": wrong 'archive to patch' name: "
                                             << options_.archive_to_patch << std::endl;
                return 1;
            }
            namespace safe = kelvomar::safe_directory;
            const std::string parent = operation_directory_of(directory);
            if (kelvomar::new_paths::entry_at(parent) != kelvomar::new_paths::entry_kind::missing &&
                refuse_directory("operation directory", safe::operation_directory_problem(parent),
                                 safe::operation_directory_advice(parent)) != 0) {
                return 1;
            }
            directory += "/" + options_.archive_to_patch + ".rest";
            const int error = kelvomar::new_paths::check_real_directory(directory);
            if (error == ENOENT) {
                HxLogStream(HxLogLvl::Error) << kRestoreSignature
                                             << ": catalog 'archive to patch' doesn't exist: " << directory
                                             << std::endl;
                return 1;
            }
            // The earlier archives of the chain are there: only in a real
            // directory, never in what a link points to, and in none that
            // another user can change.
            if (error != 0)
                return refuse_restore_directory(directory, error);
            return refuse_directory("restore directory", safe::private_directory_problem(directory),
                                    safe::private_directory_advice());
        }
        const std::string name = options_.autonomous && client_defined_storages_.empty()
                                     ? autonomous_restore_name(options_.archive_name)
                                     : options_.record_id;
        // The restore directory must stay inside the operation directory: it is
        // removed with everything in it when the restore ends.
        if (name.find('/') != std::string::npos) {
            HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": wrong restore directory name: " << name
                                         << std::endl;
            return 1;
        }
        // The engine and the module write into the restore directory: it is
        // made new (mode 0700), or a private directory of an earlier run is
        // used, never a link and never one that another user can change, in an
        // operation directory that no other user can change.
        namespace safe = kelvomar::safe_directory;
        bool made = false;
        if (refuse_directory("operation directory",
                             safe::make_operation_directory(operation_directory_of(directory), made),
                             safe::operation_directory_advice(operation_directory_of(directory))) != 0) {
            return 1;
        }
        directory += "/" + name + ".rest";
        if (replica) {
            // Only a directory this run makes: whatever stands at the name
            // (an earlier run's directory included) may hold what the engine
            // would write through, and is left as it is.
            restore_directory_created_ = false;
            const int error = kelvomar::new_paths::make_new_directory(directory);
            if (error != 0) {
                return refuse_directory("replica directory", kelvomar::new_paths::new_paths_error(directory, error),
                                        "a replica is applied only in a directory that the run makes new; remove "
                                        "what stands there");
            }
            restore_directory_created_ = true;
            kelvomar::leftovers::note("restore-directory", "the directory " + directory);
            return 0;
        }
        const std::string problem = safe::use_or_make_private_directory(directory, made);
        restore_directory_created_ = made;
        if (made) {
            kelvomar::leftovers::note("restore-directory", "the directory " + directory);
        }
        return refuse_directory("restore directory", problem, safe::private_directory_advice());
    } catch (const fs::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": filesystem error: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kRestoreSignature << ": exception: " << e.what() << std::endl;
    }
    return 1;
}
