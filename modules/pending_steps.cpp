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

// ---- Virtual operations with a base body ------------------------------------

void HxModuleUniversal::handle_shutdown_signal()
{
    KEVRA_NOT_AVAILABLE();
}

bool HxModuleUniversal::apply_replica()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

void HxModuleUniversal::close_restore()
{
    KEVRA_NOT_AVAILABLE();
}

// ---- Configuration upgrade ----------------------------------------------------

bool HxModuleUniversal::upgrade_config()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

hx_config::ConfigFile HxModuleUniversal::get_merged_config(const hx_config::ConfigFile& /*old_config*/,
                                                           const hx_config::ConfigFile& /*new_config*/,
                                                           const hx_config::ConfigFile& /*update_config*/)
{
    KEVRA_NOT_AVAILABLE();
    return hx_config::ConfigFile();
}

// ---- Signals ------------------------------------------------------------------

void HxModuleUniversal::send_signal_to_hxfd(int /*signal*/)
{
    KEVRA_NOT_AVAILABLE();
}

void HxModuleUniversal::set_to_pause()
{
    KEVRA_NOT_AVAILABLE();
}

bool HxModuleUniversal::is_paused()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

void HxModuleUniversal::continue_working()
{
    KEVRA_NOT_AVAILABLE();
}

// The handler object installs nothing yet: every signal keeps its default
// disposition (a termination signal ends the process by the signal, not with 17).
HxModuleUniversal* HxModuleSignalHandler::module_ptr_ = nullptr;

std::unique_ptr<HxModuleSignalHandler> HxModuleSignalHandler::init(HxModuleUniversal* module)
{
    return std::make_unique<HxModuleSignalHandler>(module);
}

HxModuleSignalHandler::HxModuleSignalHandler(HxModuleUniversal* module)
{
    module_ptr_ = module;
}

HxModuleSignalHandler::~HxModuleSignalHandler() = default;

void HxModuleSignalHandler::shutdown_handler(int /*signal*/)
{
    KEVRA_NOT_AVAILABLE();
}

void HxModuleSignalHandler::pause_handler(int /*signal*/)
{
    KEVRA_NOT_AVAILABLE();
}

void HxModuleSignalHandler::continue_handler(int /*signal*/)
{
    KEVRA_NOT_AVAILABLE();
}

void HxModuleSignalHandler::sigpipe_handler(int /*signal*/)
{
    KEVRA_NOT_AVAILABLE();
}

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

bool HxModuleUniversal::make_restore(const bool& /*replica*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

void HxModuleUniversal::remove_reference_snapshot_directory()
{
    KEVRA_NOT_AVAILABLE();
}

// ---- Resource lock ----------------------------------------------------------------

bool HxModuleUniversal::reassign_resource_locker(const std::string& /*resource*/)
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

namespace kelvomar {
namespace module {

// No lock file can be made yet: constructing a named lock throws, so
// reassigning a lock fails and nothing is ever locked.
resource_lock_file_handler::resource_lock_file_handler() = default;

resource_lock_file_handler::resource_lock_file_handler(std::string module_name, std::string resource_name)
    : module_name_(std::move(module_name)), resource_name_(std::move(resource_name))
{
    KEVRA_NOT_AVAILABLE();
    throw std::runtime_error("unable to create lock file");
}

std::string resource_lock_file_handler::make_lock_file_name(const std::string& /*module*/,
                                                            const std::string& /*resource*/)
{
    KEVRA_NOT_AVAILABLE();
    return std::string();
}

boost::filesystem::path resource_lock_file_handler::make_lock_files_dir_path()
{
    KEVRA_NOT_AVAILABLE();
    return boost::filesystem::path();
}

boost::filesystem::path resource_lock_file_handler::make_lock_file_path(const std::string& /*name*/)
{
    KEVRA_NOT_AVAILABLE();
    return boost::filesystem::path();
}

void resource_lock_file_handler::create() const
{
    KEVRA_NOT_AVAILABLE();
    throw std::runtime_error("unable to create lock file");
}

bool resource_lock_file_handler::remove() const
{
    if (lock_file_path_.empty()) {
        return true;
    }
    KEVRA_NOT_AVAILABLE();
    return false;
}

void resource_lock_file_handler::swap(resource_lock_file_handler& other) noexcept
{
    module_name_.swap(other.module_name_);
    resource_name_.swap(other.resource_name_);
    lock_file_path_.swap(other.lock_file_path_);
}

resource_file_lock::resource_file_lock() = default;

resource_file_lock::resource_file_lock(std::string module_name, std::string resource_name)
    : resource_lock_file_handler(std::move(module_name), std::move(resource_name))
{
}

resource_file_lock::resource_file_lock(resource_file_lock&& other) noexcept : resource_file_lock()
{
    swap(other);
}

resource_file_lock& resource_file_lock::operator=(resource_file_lock&& other) noexcept
{
    swap(other);
    return *this;
}

resource_file_lock::~resource_file_lock() = default;

void resource_file_lock::swap(resource_file_lock& other) noexcept
{
    resource_lock_file_handler::swap(other);
    file_lock_.swap(other.file_lock_);
}

bool resource_file_lock::try_lock()
{
    KEVRA_NOT_AVAILABLE();
    return false;
}

void resource_file_lock::unlock()
{
    KEVRA_NOT_AVAILABLE();
}

resource_file_scoped_lock::resource_file_scoped_lock() = default;

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock)
    : guard_(lock.file_lock(), boost::interprocess::defer_lock), lock_(&lock)
{
    KEVRA_NOT_AVAILABLE();
    throw std::runtime_error("resource locks are not available in this build");
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::defer_lock_type)
    : guard_(lock.file_lock(), boost::interprocess::defer_lock), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock,
                                                     boost::interprocess::accept_ownership_type)
    : guard_(lock.file_lock(), boost::interprocess::accept_ownership), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::try_to_lock_type)
    : guard_(lock.file_lock(), boost::interprocess::defer_lock), lock_(&lock)
{
    KEVRA_NOT_AVAILABLE();
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_scoped_lock&& other) noexcept
    : resource_file_scoped_lock()
{
    swap(other);
}

resource_file_scoped_lock& resource_file_scoped_lock::operator=(resource_file_scoped_lock&& other) noexcept
{
    swap(other);
    return *this;
}

resource_file_scoped_lock::~resource_file_scoped_lock() = default;

void resource_file_scoped_lock::swap(resource_file_scoped_lock& other) noexcept
{
    guard_.swap(other.guard_);
    std::swap(lock_, other.lock_);
}

}  // namespace module
}  // namespace kelvomar

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
