// The single operating-system snapshot of a module: its size, creation, mount,
// unmount and removal. The driver object is kept in os_snapshot_.
#include <boost/filesystem.hpp>

#include <cmath>
#include <limits>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "modules/hx_module_universal.h"
#include "modules/os_snapshot_steps.h"

namespace snapshot_steps = kelvomar::module::os_snapshot;

std::uint64_t HxModuleUniversal::calculate_OS_snapshot_size(std::uint64_t size) const
{
    // Percent of the device, taken to the nearest byte and then to the nearest
    // 512-byte sector (half-way values away from zero both times).
    const double bytes = std::round(static_cast<double>(os_snapshot_size_) * static_cast<double>(size) / 100.0);
    const double sectors = std::round(bytes / 512.0);
    constexpr std::uint64_t max_sectors = std::numeric_limits<std::uint64_t>::max() / 512;
    if (!(sectors > 0.0)) {
        return 0;
    }
    if (sectors >= static_cast<double>(max_sectors)) {
        return max_sectors * 512;
    }
    return static_cast<std::uint64_t>(sectors) * 512;
}

bool HxModuleUniversal::create_OS_snapshot(std::string& device, bool mount, std::string& mount_directory,
                                           std::string& mount_point)
{
    static const char* const signature =
        "bool HxModuleUniversal::create_OS_snapshot(std::string&, bool, std::string&, std::string&)";
    snapshot_steps::Source source;
    if (!snapshot_steps::begin_creation(*this, signature, options_.resource, device, mount_point, data_incomplete_,
                                        source)) {
        return false;
    }
    snapshot_steps::Mounting mounting;
    mounting.mount = [&](const std::string& snapshot_device, const std::string& options) {
        return mount_OS_snapshot(snapshot_device, mount_directory, options);
    };
    mounting.unmount = [this] { return umount_OS_snapshot(); };
    if (!snapshot_steps::take(*this, source, mount, mounting, os_snapshot_, device)) {
        return false;
    }
    mount_point = source.mount_point;
    data_incomplete_ = false;
    return true;
}

bool HxModuleUniversal::mount_OS_snapshot(const std::string& snapshot_device, std::string& mount_directory,
                                          const std::string& options) const
{
    namespace fs = boost::filesystem;
    mount_directory = snapshot_steps::default_mount_directory(options_);
    const bool created = fs::create_directory(mount_directory);

    const std::string command = "mount " + options + " " + kelvomar::shell_quote(snapshot_device) + " " +
                                kelvomar::shell_quote(mount_directory);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error)
            << "bool HxModuleUniversal::mount_OS_snapshot(const std::string&, std::string&, const std::string&) const"
            << ": command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        if (created) {
            boost::system::error_code ignored;
            fs::remove(mount_directory, ignored);  // only while it is empty
        }
        return false;
    }
    HxLogStream(HxLogLvl::Info) << "Mount: " << mount_directory << ", block device: " << snapshot_device << std::endl;
    return true;
}

bool HxModuleUniversal::umount_OS_snapshot() const
{
    return snapshot_steps::unmount_directory(*this, "bool HxModuleUniversal::umount_OS_snapshot() const",
                                             snapshot_steps::default_mount_directory(options_));
}

bool HxModuleUniversal::remove_OS_snapshot()
{
    if (!is_OS_snapshot_using()) {
        return true;
    }
    // A mount that stays behind fails the removal; the snapshot is still removed where it can be.
    const bool unmounted = umount_OS_snapshot();
    const std::string block_device = get_block_device(get_mountpoint(options_.resource), true);
    if (!os_snapshot_) {
        return unmounted;
    }
    return os_snapshot_->remove(block_device) && unmounted;
}
