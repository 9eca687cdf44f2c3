// The creation and unmount steps shared by the single and the multiple
// operating-system snapshot of a module.
#include "modules/os_snapshot_steps.h"

#include <boost/filesystem.hpp>

#include <exception>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/quoting.h"
#include "common/shell_quote.h"
#include "modules/mount_table.h"

namespace kelvomar {
namespace module {
namespace os_snapshot {

namespace {

// Removes a snapshot made by a creation that failed afterwards. The driver is
// dropped when the snapshot is gone; it stays in `driver` when the snapshot
// could not be removed, so that a removal step can try again.
void discard(std::unique_ptr<Snapshot>& driver, const std::string& block_device, const std::string& snapshot_device)
{
    bool removed = false;
    try {
        removed = driver->remove(block_device);
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << "Removal of the snapshot " << snapshot_device << " failed: " << e.what()
                                     << std::endl;
    }
    if (removed) {
        HxLogStream(HxLogLvl::Info) << "The snapshot " << snapshot_device << " of " << block_device
                                    << " was removed again" << std::endl;
        driver.reset();
    } else {
        HxLogStream(HxLogLvl::Error) << "The snapshot " << snapshot_device << " of " << block_device
                                     << " could not be removed" << std::endl;
    }
}

}  // namespace

std::string default_mount_directory(const HxModuleOptions& options)
{
    return options.tmp_operation_directory + "/" + options.task_id;
}

std::string mount_options(const std::string& fstype)
{
    std::string options = "-o ro,norecovery";
    if (fstype == "xfs") {
        options += ",nouuid";
    }
    return options;
}

bool usable_task_id(const char* signature, const std::string& task_id)
{
    if (!task_id.empty() && task_id != "." && task_id != ".." && task_id.find('/') == std::string::npos &&
        task_id.find('\0') == std::string::npos) {
        return true;
    }
    HxLogStream(HxLogLvl::Error) << signature << ": the task id " << kelvomar::as_quoted(task_id)
                                 << " cannot name a snapshot and its mount directory" << std::endl;
    return false;
}

bool find_source(const HxModuleUniversal& module, const char* signature, const std::string& resource,
                 const std::string& device, const std::string& given_mount_point, Source& source)
{
    source.mount_point = device.empty() ? module.get_mountpoint(resource) : given_mount_point;
    source.block_device = device.empty() ? module.get_block_device(source.mount_point, true) : device;
    HxLogStream(HxLogLvl::Info) << "Resource mountpoint: " << source.mount_point << std::endl;
    HxLogStream(HxLogLvl::Info) << "Resource is located at the block device: " << source.block_device << std::endl;

    if (!module.get_block_device_info(source.block_device, source.info)) {
        HxLogStream(HxLogLvl::Error) << "Can't get block device info: " << source.block_device << std::endl;
        return false;
    }
    source.size = module.calculate_OS_snapshot_size(source.info.size);
    HxLogStream(HxLogLvl::Info) << "Block device " << source.block_device << ", name: " << source.info.name
                                << ", size: " << source.info.size << " bytes" << std::endl;
    HxLogStream(HxLogLvl::Info) << "Expected OS snapshot size: " << source.size << " bytes" << std::endl;
    HxLogStream(HxLogLvl::Info) << "Try to use snapshot to make a backup: " << module.get_OS_snapshot_type()
                                << std::endl;
    if (source.size == 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": unable to create a snapshot with a size of zero" << std::endl;
        return false;
    }
    return true;
}

bool begin_creation(const HxModuleUniversal& module, const char* signature, const std::string& resource,
                    const std::string& device, const std::string& given_mount_point, bool& data_incomplete,
                    Source& source)
{
    if (!module.is_OS_snapshot_using()) {
        HxLogStream(HxLogLvl::Info) << "Snapshots are not used " << std::endl;
        return false;
    }
    data_incomplete = true;
    if (!usable_task_id(signature, module.options().task_id)) {
        return false;
    }
    return find_source(module, signature, resource, device, given_mount_point, source);
}

bool take(HxModuleUniversal& module, const Source& source, bool mount, const Mounting& mounting,
          std::unique_ptr<Snapshot>& driver, std::string& device)
{
    driver = SnapshotFactory().createSnapshot(source.info.type, module.get_OS_snapshot_type());
    try {
        if (!driver || !driver->check(source.block_device)) {
            driver.reset();
            return false;
        }
    } catch (...) {
        driver.reset();
        throw;
    }

    const std::string& before = module.script_before_snapshot();
    if (!before.empty()) {
        HxLogStream(HxLogLvl::Info) << "Run script '" << before << "' before snapshot creation" << std::endl;
        if (!module.run_script(before, "before")) {
            driver.reset();  // nothing was made
            return false;
        }
    }

    std::string snapshot_device = device;
    if (!driver->create(source.block_device, source.info.name, source.mount_point, module.options().task_id,
                        source.size, snapshot_device)) {
        driver.reset();
        const std::string& error_script = module.script_error_snapshot();
        if (!error_script.empty()) {
            HxLogStream(HxLogLvl::Info) << "Run script '" << error_script << "' after snapshot creation failed"
                                        << std::endl;
            module.run_script(error_script, "error");
        }
        return false;
    }

    if (mount) {
        bool mounted = false;
        try {
            mounted = mounting.mount(snapshot_device, mount_options(source.info.fstype));
        } catch (...) {
            discard(driver, source.block_device, snapshot_device);
            throw;
        }
        if (!mounted) {
            discard(driver, source.block_device, snapshot_device);
            return false;
        }
    }

    const std::string& after = module.script_after_snapshot();
    if (!after.empty()) {
        HxLogStream(HxLogLvl::Info) << "Run script '" << after << "' after snapshot creation" << std::endl;
        if (!module.run_script(after, "after")) {
            if (mount) {
                mounting.unmount();
            }
            discard(driver, source.block_device, snapshot_device);
            return false;
        }
    }
    device = snapshot_device;
    return true;
}

bool unmount_directory(const HxModuleUniversal& module, const char* signature, const std::string& directory)
{
    namespace fs = boost::filesystem;
    try {
        if (!fs::exists(directory)) {
            return true;
        }
        // The kernel names the mount by the directory's canonical path.
        const std::string mount_point = fs::canonical(directory).string();
        const std::string device = module.get_block_device(mount_point, true);
        if (device.empty()) {
            std::string unresolved;
            if (find_mounted_device(mount_point, unresolved)) {
                HxLogStream(HxLogLvl::Error) << signature << ": the device " << unresolved << " mounted at "
                                             << directory << " cannot be resolved, it stays mounted" << std::endl;
                return false;
            }
            return true;
        }
        const std::string command = "umount -lf " + kelvomar::shell_quote(device);
        std::string output;
        if (hx_utils_common::execute_command(command, output) != 0) {
            HxLogStream(HxLogLvl::Error) << signature << ": command: " << command << "; result: " << output
                                         << std::endl;
            return false;
        }
        // Never delete what another file system still shows through the directory.
        std::string still_mounted;
        if (find_mounted_device(mount_point, still_mounted)) {
            HxLogStream(HxLogLvl::Error) << signature << ": " << directory << " is still mounted from "
                                         << still_mounted << ", it is not removed" << std::endl;
            return false;
        }
        fs::remove_all(directory);
        HxLogStream(HxLogLvl::Info) << "Unmount successful: " << directory << ", block device: " << device
                                    << "; remove obsoleted: " << directory << std::endl;
        return true;
    } catch (const fs::filesystem_error& e) {
        HxLogStream(HxLogLvl::Error) << signature << ": " << e.what() << std::endl;
        return false;
    }
}

}  // namespace os_snapshot
}  // namespace module
}  // namespace kelvomar
