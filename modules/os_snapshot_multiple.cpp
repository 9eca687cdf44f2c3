// Operating-system snapshots of several resources of a module, one record of
// os_snapshots_ each, and their removal.
#include <boost/filesystem.hpp>

#include <exception>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "modules/hx_module_universal.h"
#include "modules/os_snapshot_steps.h"

namespace snapshot_steps = kelvomar::module::os_snapshot;

bool HxModuleUniversal::create_OS_snapshot_multiple(const std::string& resource, std::string& device, bool mount,
                                                    std::string& mount_directory, std::string& mount_point)
{
    static const char* const signature =
        "bool HxModuleUniversal::create_OS_snapshot_multiple(const std::string&, std::string&, bool, std::string&, "
        "std::string&)";
    snapshot_steps::Source source;
    if (!snapshot_steps::begin_creation(*this, signature, resource, device, mount_point, data_incomplete_, source)) {
        return false;
    }
    snapshot_steps::Mounting mounting;
    mounting.mount = [&](const std::string& snapshot_device, const std::string& options) {
        return mount_OS_snapshot_multiple(snapshot_device, mount_directory, options);
    };
    mounting.unmount = [&] { return umount_OS_snapshot_multiple(mount_directory); };

    std::unique_ptr<Snapshot> driver;
    const bool taken = snapshot_steps::take(*this, source, mount, mounting, driver, device);
    if (!taken && !driver) {
        return false;
    }
    // A snapshot that a failed creation could not remove again stays in the
    // list as well, so that remove_all_OS_snapshots can still remove it.
    OsSnapshot record;
    record.snapshot = std::move(driver);
    // Only a directory that this creation mounted is unmounted and deleted later.
    record.mount_directory = mount ? mount_directory : std::string();
    record.block_device = source.block_device;
    os_snapshots_.push_back(std::move(record));
    if (!taken) {
        return false;
    }
    mount_point = source.mount_point;
    data_incomplete_ = false;
    return true;
}

bool HxModuleUniversal::mount_OS_snapshot_multiple(const std::string& snapshot_device, std::string& mount_directory,
                                                   const std::string& options) const
{
    namespace fs = boost::filesystem;
    static const char* const signature =
        "bool HxModuleUniversal::mount_OS_snapshot_multiple(const std::string&, std::string&, const std::string&) "
        "const";
    if (mount_directory.empty()) {
        mount_directory = snapshot_steps::default_mount_directory(options_);
    }
    if (!fs::create_directories(mount_directory)) {
        HxLogStream(HxLogLvl::Error) << signature << ": Create directory failed: " << mount_directory << std::endl;
        return false;
    }
    const std::string command = "mount " + options + " " + kelvomar::shell_quote(snapshot_device) + " " +
                                kelvomar::shell_quote(mount_directory);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": command: " << command << "; result: " << output << std::endl;
        boost::system::error_code ignored;
        fs::remove(mount_directory, ignored);  // made just now; removed only while it is empty
        return false;
    }
    HxLogStream(HxLogLvl::Info) << "Mount: " << mount_directory << ", block device: " << snapshot_device << std::endl;
    return true;
}

bool HxModuleUniversal::umount_OS_snapshot_multiple(const std::string& mount_directory) const
{
    return snapshot_steps::unmount_directory(
        *this, "bool HxModuleUniversal::umount_OS_snapshot_multiple(const std::string&) const", mount_directory);
}

bool HxModuleUniversal::remove_all_OS_snapshots()
{
    bool result = true;
    if (os_snapshot_) {
        try {
            result = remove_OS_snapshot();
        } catch (const std::exception& e) {
            HxLogStream(HxLogLvl::Error) << "Removal of the snapshot failed: " << e.what() << std::endl;
            result = false;
        }
    }
    if (!is_OS_snapshot_using()) {
        return result;
    }
    for (const OsSnapshot& record : os_snapshots_) {
        // Every record gets both steps, whatever happened to the ones before it.
        try {
            result = umount_OS_snapshot_multiple(record.mount_directory) && result;
        } catch (const std::exception& e) {
            HxLogStream(HxLogLvl::Error) << "Unmount of " << record.mount_directory << " failed: " << e.what()
                                         << std::endl;
            result = false;
        }
        if (!record.snapshot) {
            continue;
        }
        try {
            result = record.snapshot->remove(record.block_device) && result;
        } catch (const std::exception& e) {
            HxLogStream(HxLogLvl::Error) << "Removal of the snapshot of " << record.block_device
                                         << " failed: " << e.what() << std::endl;
            result = false;
        }
    }
    return result;
}
