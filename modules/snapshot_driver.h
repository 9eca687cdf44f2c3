#ifndef KEVRA_MODULES_SNAPSHOT_DRIVER_H
#define KEVRA_MODULES_SNAPSHOT_DRIVER_H

#include <cstdint>
#include <memory>
#include <string>

// An operating-system snapshot driver for one block device (LVM, dattobd).
class Snapshot {
public:
    // Whether a snapshot of `device` can be made now; false when it cannot.
    virtual bool check(const std::string& device) = 0;
    // Makes the snapshot and fills `snapshot_device` with its block device;
    // false when it could not be made.
    virtual bool create(const std::string& device, const std::string& name, const std::string& mount_point,
                        const std::string& task_id, uintmax_t size, std::string& snapshot_device) = 0;
    // Removes the snapshot made for `device`; false when that failed.
    virtual bool remove(const std::string& device) = 0;
    virtual ~Snapshot() = default;
};

// One snapshot of a module's list of snapshots for several resources.
struct OsSnapshot {
    std::unique_ptr<Snapshot> snapshot;
    std::string mount_directory;  // where the snapshot is mounted
    std::string block_device;     // the resource's block device

    OsSnapshot() = default;
    OsSnapshot(OsSnapshot&&) = default;
    OsSnapshot& operator=(OsSnapshot&&) = default;
    OsSnapshot(const OsSnapshot&) = delete;
    OsSnapshot& operator=(const OsSnapshot&) = delete;
};

#endif
