#ifndef KEVRA_MODULES_OS_SNAPSHOT_STEPS_H
#define KEVRA_MODULES_OS_SNAPSHOT_STEPS_H
// Steps shared by the single and the multiple operating-system snapshot of a
// module: where a snapshot is mounted, with which options, and the creation
// from the driver's check to the after-script.

#include <functional>
#include <memory>
#include <string>

#include "modules/hx_module_universal.h"
#include "modules/snapshot_driver.h"

namespace kelvomar {
namespace module {
namespace os_snapshot {

// The default mount directory: operation directory + "/" + task id.
std::string default_mount_directory(const HxModuleOptions& options);

// "-o ro,norecovery", with ",nouuid" for an XFS file system.
std::string mount_options(const std::string& fstype);

// True when the task id can name a snapshot, a copy-on-write file and a
// directory below the operation directory: one non-empty path component other
// than "." and "..". False with an Error record (beginning with `signature`) otherwise.
bool usable_task_id(const char* signature, const std::string& task_id);

// What a creation found out about the resource before making the snapshot.
struct Source {
    std::string mount_point;
    std::string block_device;
    HxModuleUniversal::block_device_info info;
    std::uint64_t size = 0;  // snapshot size in bytes
};

// Steps 3 to 7 of a creation: the mount point (of `resource` when `device` is
// empty, else `given_mount_point`), the block device, its properties and the
// snapshot size. False (logged) when one of them fails or the size is 0. Throws
// what the block-device queries throw.
bool find_source(const HxModuleUniversal& module, const char* signature, const std::string& resource,
                 const std::string& device, const std::string& given_mount_point, Source& source);

// Steps 1 to 7 of a creation: snapshots in use (else an Info record "Snapshots
// are not used "), then, with `data_incomplete` set, a usable task id of the
// module and find_source. True with `source` filled in; false (logged) when a
// step fails. Throws what find_source throws.
bool begin_creation(const HxModuleUniversal& module, const char* signature, const std::string& resource,
                    const std::string& device, const std::string& given_mount_point, bool& data_incomplete,
                    Source& source);

// How a creation mounts its snapshot and takes the mount back.
struct Mounting {
    std::function<bool(const std::string& snapshot_device, const std::string& options)> mount;
    std::function<bool()> unmount;
};

// Steps 8 to 12 of a creation: driver, check, before-script, create, mount
// (when `mount`), after-script. True with `driver` holding the snapshot's driver
// and `device` the snapshot device. False otherwise, with `driver` empty and
// nothing left behind: a snapshot made before a later step failed is unmounted
// and removed again. Exceptions of the mount step are passed on after that clean-up.
bool take(HxModuleUniversal& module, const Source& source, bool mount, const Mounting& mounting,
          std::unique_ptr<Snapshot>& driver, std::string& device);

// Unmounts what is mounted at `directory` and removes the directory with what
// is in it. True when nothing is mounted there (also when the directory does not
// exist) or the unmount and removal succeeded; false (logged with `signature`)
// when a command or the removal failed or something is still mounted there.
bool unmount_directory(const HxModuleUniversal& module, const char* signature, const std::string& directory);

}  // namespace os_snapshot
}  // namespace module
}  // namespace kelvomar

#endif
