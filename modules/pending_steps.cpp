// Steps of a module run that this build does not provide yet. Each one fails
// honestly: it logs "<signature>: not available in this build" at Error and
// returns its failure value, so no run that reaches one reports success.
// A step that is implemented moves into its own source file and leaves this one.
#include <csignal>

#include "common/config_file.h"
#include "common/hx_logger.h"
#include "modules/hx_module_universal.h"

namespace {

void not_available(const char* signature)
{
    HxLogStream(HxLogLvl::Error) << signature << ": not available in this build" << std::endl;
}

}  // namespace

#define KEVRA_NOT_AVAILABLE() not_available(__PRETTY_FUNCTION__)

// ---- Archive engine runs --------------------------------------------------------

bool HxModuleUniversal::make_backup_remotely()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::cleanup_remote_host(const std::string& /*remote_prefix*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

// ---- Operating-system snapshots -----------------------------------------------------------

std::uint64_t HxModuleUniversal::calculate_OS_snapshot_size(std::uint64_t /*size*/) const
{
    KEVRA_NOT_AVAILABLE();
    return 0;
}

bool HxModuleUniversal::run_script(const std::string& /*path*/, const std::string& /*argument*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::create_OS_snapshot(std::string& /*device*/, bool /*mount*/, std::string& /*mount_directory*/,
                                           std::string& /*mount_point*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::mount_OS_snapshot(const std::string& /*snapshot_device*/, std::string& /*mount_directory*/,
                                          const std::string& /*options*/) const
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::umount_OS_snapshot() const
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::remove_OS_snapshot()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::create_OS_snapshot_multiple(const std::string& /*resource*/, std::string& /*device*/,
                                                    bool /*mount*/, std::string& /*mount_directory*/,
                                                    std::string& /*mount_point*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::mount_OS_snapshot_multiple(const std::string& /*snapshot_device*/,
                                                   std::string& /*mount_directory*/,
                                                   const std::string& /*options*/) const
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::umount_OS_snapshot_multiple(const std::string& /*mount_directory*/) const
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

bool HxModuleUniversal::remove_all_OS_snapshots()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

int HxModuleUniversal::check_file_to_restore_for_sparse(const std::string& /*path*/) const
{
    KEVRA_NOT_AVAILABLE();
    return 7;
}

// ---- Block devices and mount points ---------------------------------------------------------

std::string HxModuleUniversal::get_mountpoint(const std::string& /*path*/) const
{
    KEVRA_NOT_AVAILABLE();
    return std::string();
}

std::string HxModuleUniversal::get_block_device(const std::string& /*mount_point*/, bool /*resolve*/) const
{
    KEVRA_NOT_AVAILABLE();
    return std::string();
}

bool HxModuleUniversal::get_block_device_info(const std::string& /*device*/, block_device_info& /*info*/) const
{
    KEVRA_NOT_AVAILABLE();
    return false;
}
